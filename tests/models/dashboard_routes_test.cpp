// The page's road to the firmware: POST /visca frames a payload for the camera's local
// bridge, sends it as a datagram and answers with the camera's replies.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "control/visca_framing.h"
#include "sim/http/dashboard_routes.h"
#include "support/child_process.h"
#include "support/http_post.h"

namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

int boundUdp(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in local = loopback(port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

uint16_t portOf(int fd) {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
}

// The camera's side of the bridge: takes one datagram and answers with the given payloads,
// after a reply to an older exchange that must be ignored.
class FakeBridge {
public:
    explicit FakeBridge(std::vector<visca::Bytes> answers_) : answers(std::move(answers_)), fd(boundUdp(0)) {}
    ~FakeBridge() {
        if (serving.joinable()) serving.join();
        close(fd);
    }
    uint16_t port() const { return portOf(fd); }

    void answerOnce(uint16_t replyPort) {
        serving = std::thread([this, replyPort] {
            pollfd readable{fd, POLLIN, 0};
            if (poll(&readable, 1, 3000) <= 0) return;
            uint8_t buffer[visca::kMaxDatagram];
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            datagram.assign(buffer, buffer + n);
            const sockaddr_in web = loopback(replyPort);
            auto send = [&](const visca::Bytes& datagram) {
                sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&web), sizeof web);
            };
            send(visca::frame(visca::kTypeReply, visca::sequenceNumber(datagram) + 1000, visca::completionPayload(2)));
            for (const auto& answer : answers) send(visca::replyTo(datagram, answer));
        });
    }
    // The datagram the camera took, once it has answered.
    visca::Bytes received() {
        if (serving.joinable()) serving.join();
        return datagram;
    }

private:
    visca::Bytes datagram;
    std::vector<visca::Bytes> answers;
    int fd;
    std::thread serving;
};

uint16_t freeUdpPort() {
    const int fd = boundUdp(0);
    const uint16_t port = portOf(fd);
    close(fd);
    return port;
}

struct DashboardRoutes : testing::Test {
    void serve(uint16_t bridgePort) {
        sim::addDashboardRoutes(api, {bridgePort, replyPort});
        ASSERT_TRUE(api.start(httpPort));
    }
    uint16_t replyPort = freeUdpPort();
    int httpPort = freeLoopbackPort();
    sim::StateApi api;
};

TEST_F(DashboardRoutes, CommandIsFramedForTheBridgeAndAnsweredWithItsAckAndCompletion) {
    FakeBridge camera({visca::ackPayload(2), visca::completionPayload(2)});
    serve(camera.port());
    camera.answerOnce(replyPort);
    const auto reply = httpPost(httpPort, "/visca", "82 01 06 01 0a 0A 02 03 FF");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "A0 41 FF\nA0 51 FF\n");  // the stale completion is not among them
    const visca::Bytes expected = visca::frame(visca::kTypeCommand, visca::sequenceNumber(camera.received()),
                                               visca::Bytes{0x82, 0x01, 0x06, 0x01, 0x0A, 0x0A, 0x02, 0x03, 0xFF});
    EXPECT_EQ(camera.received(), expected);
}

TEST_F(DashboardRoutes, InquiryIsFramedAsOneAndItsAnswerEndsTheExchange) {
    FakeBridge camera({{0xA0, 0x50, 0x02, 0xFF}});
    serve(camera.port());
    camera.answerOnce(replyPort);
    const auto reply = httpPost(httpPort, "/visca", "8209 0400 ff");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "A0 50 02 FF\n");
    ASSERT_GE(camera.received().size(), visca::kHeaderBytes);
    EXPECT_EQ(visca::payloadType(camera.received()), visca::kTypeInquiry);
}

TEST_F(DashboardRoutes, RefusesWhatIsNotOneViscaMessageAndSendsNothing) {
    FakeBridge camera({});
    serve(camera.port());
    for (const char* bad : {"", "82 01 06 04", "82 01 06 04 FG", "82 01 06 04 F", "01 06 04 FF",
                            "82 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F FF", "82 FF"}) {
        const auto reply = httpPost(httpPort, "/visca", bad);
        EXPECT_EQ(reply.status, 400) << bad;
    }
    camera.answerOnce(replyPort);
    httpPost(httpPort, "/visca", "82 01 06 04 FF");  // the first datagram the camera sees is this one
    EXPECT_EQ(camera.received().size(), visca::kHeaderBytes + 5);
}

TEST_F(DashboardRoutes, SilentBridgeOrBusyReplyPortIsAnErrorNotAnEmptySuccess) {
    FakeBridge camera({visca::ackPayload(2)});  // an ACK and then nothing
    serve(camera.port());
    camera.answerOnce(replyPort);
    const auto acked = httpPost(httpPort, "/visca", "82 01 06 04 FF");
    EXPECT_EQ(acked.status, 504);
    EXPECT_NE(acked.body.find("A0 41 FF"), std::string::npos);

    const int holder = boundUdp(replyPort);
    ASSERT_GE(holder, 0);
    EXPECT_EQ(httpPost(httpPort, "/visca", "82 01 06 04 FF").status, 503);
    close(holder);
}

}  // namespace
