// The page's road to the firmware: POST /visca frames a payload for the camera's local
// bridge, sends it as a datagram and answers with the camera's replies.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "control/visca_framing.h"
#include "sim/http/dashboard_routes.h"
#include "support/free_port.h"
#include "support/child_process.h"
#include "support/http_post.h"
#include "support/udp_endpoint.h"

namespace {

// The camera's side of the bridge: takes one datagram and answers with the given payloads,
// after a reply to an older exchange that must be ignored.
class FakeBridge {
public:
    explicit FakeBridge(std::vector<visca::Bytes> answers_) : answers(std::move(answers_)) {}
    ~FakeBridge() {
        if (serving.joinable()) serving.join();
    }
    uint16_t port() const { return bridgePort; }

    void answerOnce(uint16_t replyPort) {
        serving = std::thread([this, replyPort] {
            const auto taken = endpoint.receive(std::chrono::milliseconds(3000));
            if (!taken) return;
            datagram = *taken;
            auto send = [&](const visca::Bytes& reply) { endpoint.sendTo(replyPort, reply); };
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
    uint16_t bridgePort = freePort();
    UdpEndpoint endpoint{bridgePort};
    std::thread serving;
};

struct DashboardRoutes : testing::Test {
    void serve(uint16_t bridgePort) {
        sim::addDashboardRoutes(api, {bridgePort, replyPort});
        ASSERT_TRUE(api.start(httpPort));
    }
    uint16_t replyPort = freePort();
    int httpPort = freePort();
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

    const UdpEndpoint holder(replyPort);
    ASSERT_TRUE(holder.bound());
    EXPECT_EQ(httpPost(httpPort, "/visca", "82 01 06 04 FF").status, 503);
}

}  // namespace
