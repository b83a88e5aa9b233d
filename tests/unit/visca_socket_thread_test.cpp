// The "viscaPTZ" socket thread on the loopback interface: retries, the serial input, stop, and the
// discovery reply's edges. The end-to-end suites run the replies (a reply or control reply gets no
// answer, so on one host it never answers its own), the bridge and discovery's bytes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <optional>
#include <string>
#include <thread>

#include "control/discovery_reply.h"
#include "control/visca_framing.h"
#include "control/visca_socket_thread.h"
#include "support/fake_visca_target.h"
#include "support/free_port.h"
#include "support/log_capture.h"
#include "support/root_only.h"
#include "support/udp_endpoint.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
using Bytes = std::vector<uint8_t>;

// Retries like a controller would while the thread is still opening its sockets.
std::optional<Bytes> firstAnswer(const UdpEndpoint& from, uint16_t port, const Bytes& datagram, const UdpEndpoint& at) {
    for (int attempt = 0; attempt < 30; ++attempt) {
        from.sendTo(port, datagram);
        if (auto answer = at.receive(100ms)) return answer;
    }
    return std::nullopt;
}

Bytes command(uint32_t sequence, const Bytes& payload) { return visca::frame(visca::kTypeCommand, sequence, payload); }
Bytes ack(uint32_t sequence, uint8_t address) { return visca::frame(visca::kTypeReply, sequence, Bytes{address, 0x41, 0xFF}); }
}  // namespace

// The network side serves while the bridge port is taken, then the bridge once it is free; the
// serial input is watched only while in use, even reopened above every socket; stop stays prompt.
TEST(SocketThreadAsRoot, ABusyPortIsRetriedWhileTheOthersAndTheSerialInputServe) {
    SKIP_UNLESS_ROOT("the thread binds to device lo");
    const ViscaPorts ports{freePort(), freePort(), freePort(), freePort(), freePort()};
    auto squatter = std::make_unique<UdpEndpoint>(ports.bridge);
    ASSERT_TRUE(squatter->bound());
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    std::atomic<int> served{0}, serial{pipeFds[0]};
    std::atomic<bool> inUse{false};
    LogCapture log(2);
    UdpEndpoint controller(ports.networkReply), web(ports.bridgeReply), page(0), finder(freePort(), INADDR_ANY);
    FakeViscaTarget target;
    ViscaSocketThread thread(target, NetInfo{}, ports, "lo");
    thread.setSerialInput({[&] { return inUse.load() ? serial.load() : -1; },
                           [&] { char byte; served += read(serial.load(), &byte, 1) == 1; }});
    thread.start();
    EXPECT_EQ(firstAnswer(controller, ports.visca, command(1, {0x81, 0x01, 0x06, 0x04, 0xFF}), controller), ack(1, 0x90));
    EXPECT_FALSE(thread.socketsOpen());
    ASSERT_EQ(write(pipeFds[1], "ab", 2), 2);
    std::this_thread::sleep_for(1200ms);  // at least one more attempt at the bridge port
    EXPECT_EQ(served.load(), 0) << "not in use";
    inUse = true;
    EXPECT_TRUE(waitFor([&] { return served.load() == 2; }));
    ASSERT_EQ(dup2(pipeFds[0], 900), 900);  // the adapter probed again
    serial = 900;
    ASSERT_EQ(write(pipeFds[1], "c", 1), 1);
    EXPECT_TRUE(waitFor([&] { return served.load() == 3; })) << "the select bound follows the serial input";
    squatter.reset();
    ASSERT_TRUE(waitFor([&] { return thread.socketsOpen(); }));
    page.sendTo(ports.bridge, command(2, {0x82, 0x01, 0x06, 0x04, 0xFF}));
    EXPECT_EQ(web.receive(), ack(2, 0xA0));
    finder.sendTo(ports.discovery, {});
    const std::string enquiry = "\x02" "ENQ:network\xFF\x03";
    finder.sendTo(ports.discovery, Bytes(enquiry.begin(), enquiry.end()));
    const Bytes info = finder.receive().value_or(Bytes{});
    EXPECT_EQ(std::string(info.begin(), info.end()).rfind("\x02MAC:", 0), 0u) << "an empty datagram gets no answer";
    const auto before = std::chrono::steady_clock::now();
    thread.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s) << "bounded by the select period";
    EXPECT_EQ(log.text(), "Cannot bind LOOP UDP socket!\n");
    for (const int fd : {900, pipeFds[0], pipeFds[1]}) close(fd);
}

// Byte 0 is not read: 12 bytes is the shortest enquiry that gets the info reply; the name is cut to 8.
TEST(Discovery, ShortestEnquiryGetsTheInfoReplyWithTheNameCut) {
    const std::string enquiry = "xENQ:network";
    const Bytes reply = discoveryReply(NetInfo{}, Bytes(enquiry.begin(), enquiry.end()), "camerahost12");
    const std::string text(reply.begin(), reply.end());
    EXPECT_EQ(text.rfind("\x02MAC:", 0), 0u);
    EXPECT_NE(text.find("\xFFNAME:cameraho\xFFWRITE:on\xFF\x03"), std::string::npos) << text;
    EXPECT_EQ(discoveryReply(NetInfo{}, Bytes(enquiry.begin(), enquiry.end() - 1), "c")[1], 'N');
}
