// The "viscaPTZ" socket thread on the loopback interface: real sockets, replies, retries, stop.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "control/visca_framing.h"
#include "control/visca_socket_thread.h"
#include "support/free_port.h"
#include "support/fake_visca_target.h"
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
Bytes reply(uint32_t sequence, const Bytes& payload) { return visca::frame(visca::kTypeReply, sequence, payload); }

NetInfo loopbackInfo() {
    NetInfo info;
    info.ip = {127, 0, 0, 1};
    info.netmask = {255, 0, 0, 0};
    return info;
}

class SocketThreadAsRoot : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_ROOT("the thread binds to device lo");
        setenv("PTZCAM_IFACE", "lo", 1);
        ports = {freePort(), freePort(), freePort(), freePort(), freePort()};
    }
    void TearDown() override {
        if (thread) thread->stop();
        unsetenv("PTZCAM_IFACE");
    }
    void start(const std::string& device = "") {
        thread.emplace(target, loopbackInfo(), ports, device);
        thread->start();
    }
    bool startAndOpen() { return start(), waitFor([&] { return thread->socketsOpen(); }); }

    FakeViscaTarget target;
    ViscaPorts ports;
    std::optional<ViscaSocketThread> thread;
};
}  // namespace

// A network command is answered at the reply port of the sender, a bridge command at the web reply port.
TEST_F(SocketThreadAsRoot, CommandsAreAnsweredAtTheirReplyPortsAndStopIsBounded) {
    UdpEndpoint controller(ports.networkReply), web(ports.bridgeReply), page(0);
    ASSERT_TRUE(startAndOpen());
    controller.sendTo(ports.visca, command(0x01020304, {0x81, 0x01, 0x06, 0x01, 0x0A, 0x0B, 0x02, 0x03, 0xFF}));
    EXPECT_EQ(controller.receive(), reply(0x01020304, {0x90, 0x41, 0xFF}));
    EXPECT_EQ(controller.receive(), reply(0x01020304, {0x90, 0x51, 0xFF}));
    ASSERT_EQ(target.commands().size(), 1u);
    EXPECT_EQ(target.commands()[0].code, VISCA_PTZ_RIGHT);
    page.sendTo(ports.bridge, command(5, {0x82, 0x01, 0x7E, 0x01, 0x0A, 0x00, 0x02, 0xFF}));
    EXPECT_EQ(web.receive(), reply(5, {0xA0, 0x41, 0xFF}));
    EXPECT_EQ(web.receive(), reply(5, {0xA0, 0x51, 0xFF}));
    ASSERT_EQ(target.commands().size(), 2u);
    EXPECT_EQ(controller.receive(100ms), std::nullopt) << "the bridge's answers go to the web port only";
    // Stopping is bounded by the select period, and frees the ports.
    const auto before = std::chrono::steady_clock::now();
    thread->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
    EXPECT_FALSE(thread->socketsOpen());
    UdpEndpoint rebind(ports.bridge);
    EXPECT_TRUE(rebind.bound());
}

TEST_F(SocketThreadAsRoot, MalformedDatagramsGetTheirExactAnswerOrNone) {
    UdpEndpoint controller(ports.networkReply);
    ASSERT_TRUE(startAndOpen());
    controller.sendTo(ports.visca, {});
    controller.sendTo(ports.visca, Bytes(8, 0x01));
    // Longer than the receive buffer: cut to 1000 bytes, whose last is not 0xFF.
    Bytes oversized = command(0x0A0B0C0D, Bytes(1492, 0x00));
    oversized[8] = 0x81;
    oversized.back() = 0xFF;
    controller.sendTo(ports.visca, oversized);
    const auto control = visca::controlReply(0x0A0B0C0D);
    EXPECT_EQ(controller.receive(), Bytes(control.begin(), control.end()));
    EXPECT_EQ(controller.receive(300ms), std::nullopt);
    EXPECT_TRUE(target.commands().empty());
}

TEST_F(SocketThreadAsRoot, OnOneHostItNeverAnswersItsOwnReplies) {
    ports.networkReply = ports.visca;  // as deployed: replies go to the VISCA port of the sender
    LogCapture log(5);
    UdpEndpoint controller(0);
    ASSERT_TRUE(startAndOpen());
    controller.sendTo(ports.visca, visca::frame(visca::kTypeControlCommand, 3, Bytes{0x01}));
    controller.sendTo(ports.visca, command(4, {0x81, 0x01, 0x06, 0x04, 0xFF}));
    ASSERT_TRUE(waitFor([&] { return !target.commands().empty(); }));
    std::this_thread::sleep_for(300ms);
    thread->stop();
    EXPECT_EQ(log.text().find("ctrl_fd sequency Err"), std::string::npos);
    EXPECT_EQ(target.commands().size(), 1u);
}

// The replies' bytes are checked end to end; here an empty datagram gets none.
TEST_F(SocketThreadAsRoot, DiscoveryIgnoresAnEmptyDatagram) {
    UdpEndpoint client(freePort(), INADDR_ANY);
    ASSERT_TRUE(startAndOpen());
    client.sendTo(ports.discovery, {});
    const std::string enquiry = "\x02" "ENQ:network\xFF\x03";
    client.sendTo(ports.discovery, Bytes(enquiry.begin(), enquiry.end()));
    const auto info = client.receive();
    ASSERT_TRUE(info);
    EXPECT_EQ(std::string(info->begin(), info->end()).rfind("\x02MAC:", 0), 0u);
}

TEST_F(SocketThreadAsRoot, ABusyPortIsRetriedWhileTheOthersServe) {
    auto squatter = std::make_unique<UdpEndpoint>(ports.bridge);
    ASSERT_TRUE(squatter->bound());
    LogCapture log(2);
    UdpEndpoint controller(ports.networkReply);
    start();
    // The network side serves while the bridge port is taken.
    EXPECT_EQ(firstAnswer(controller, ports.visca, command(1, {0x81, 0x01, 0x06, 0x04, 0xFF}), controller),
              reply(1, {0x90, 0x41, 0xFF}));
    EXPECT_FALSE(thread->socketsOpen());
    std::this_thread::sleep_for(1200ms);  // at least one more attempt
    squatter.reset();
    ASSERT_TRUE(waitFor([&] { return thread->socketsOpen(); }));
    UdpEndpoint web(ports.bridgeReply), page(0);
    page.sendTo(ports.bridge, command(2, {0x82, 0x01, 0x06, 0x04, 0xFF}));
    EXPECT_EQ(web.receive(), reply(2, {0xA0, 0x41, 0xFF}));
    thread->stop();
    EXPECT_EQ(log.text(), "Cannot bind LOOP UDP socket!\n");
}

TEST_F(SocketThreadAsRoot, AMissingInterfaceLeavesTheBridgeServingAndStopsPromptly) {
    LogCapture log(2);
    UdpEndpoint web(ports.bridgeReply), page(0);
    start("nosuchif9");
    EXPECT_EQ(firstAnswer(page, ports.bridge, command(9, {0x82, 0x01, 0x06, 0x05, 0xFF}), web),
              reply(9, {0xA0, 0x41, 0xFF}));
    const auto before = std::chrono::steady_clock::now();
    thread->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_EQ(log.text(), "Fail to bind to eth0!\nFail to bind to eth0!\nFail to bind to eth0!\n");
}

TEST_F(SocketThreadAsRoot, ServesTheSerialInputWhenItIsInUse) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    std::atomic<int> served{0};
    std::atomic<bool> inUse{false};
    std::atomic<int> serial{pipeFds[0]};
    thread.emplace(target, loopbackInfo(), ports);
    thread->setSerialInput({[&] { return inUse.load() ? serial.load() : -1; },
                            [&] {
                                char byte;
                                if (read(serial.load(), &byte, 1) == 1) ++served;
                            }});
    thread->start();
    ASSERT_EQ(write(pipeFds[1], "ab", 2), 2);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(served.load(), 0);
    inUse = true;
    EXPECT_TRUE(waitFor([&] { return served.load() == 2; }));
    // Reopened above every socket (the adapter probed again): the select bound follows it.
    constexpr int kHighDescriptor = 900;
    ASSERT_EQ(dup2(pipeFds[0], kHighDescriptor), kHighDescriptor);
    serial = kHighDescriptor;
    ASSERT_EQ(write(pipeFds[1], "c", 1), 1);
    EXPECT_TRUE(waitFor([&] { return served.load() == 3; }));
    thread->stop();
    close(kHighDescriptor);
    close(pipeFds[0]);
    close(pipeFds[1]);
}
