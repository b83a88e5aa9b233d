// The ptzvisca client as a process against the real socket thread on loopback.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "control/visca_socket_thread.h"
#include "support/free_port.h"
#include "support/child_process.h"
#include "support/fake_visca_target.h"
#include "support/root_only.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
class PtzviscaClientAsRoot : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_ROOT("the socket thread binds to device lo");
        ports = {freePort(), freePort(), freePort(), freePort(), freePort()};
    }
    // After the target is set up: the thread reads it without a lock.
    void start() {
        thread.emplace(target, NetInfo{}, ports, "lo");
        thread->start();
        ASSERT_TRUE(waitFor([&] { return thread->socketsOpen(); }, 1s, 10ms));
    }
    void TearDown() override { if (thread) thread->stop(); }
    // The client to the network ports, or with --bridge to the web bridge's.
    ProcessResult network(const std::vector<std::string>& words, bool bridge = false) {
        std::vector<std::string> args = {"--port", std::to_string(bridge ? ports.bridge : ports.visca), "--listen",
                                         std::to_string(bridge ? ports.bridgeReply : ports.networkReply)};
        const auto to = bridge ? std::vector<std::string>{"--bridge"} : std::vector<std::string>{"--host", "127.0.0.1"};
        args.insert(args.begin(), to.begin(), to.end());
        args.insert(args.end(), words.begin(), words.end());
        return runProcess(PTZVISCA_BINARY, args);
    }

    FakeViscaTarget target;
    ViscaPorts ports;
    std::optional<ViscaSocketThread> thread;
};
}  // namespace

TEST_F(PtzviscaClientAsRoot, NamedCommandsAreAcknowledgedAndCompletedAndPositionsCarryTheirNibbles) {
    target.limits = {0, 0, -10000000, 10000000, 10000000, -10000000};
    start();
    EXPECT_EQ(network({"raw", "81", "01", "06", "04", "ff"}).status, 0);
    for (const auto& r : {network({"left", "10", "11"}), network({"tally", "on"}, true), network({"abs", "-2", "3", "20", "21"})}) {
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "ACK\nCompletion\n");
    }
    const auto commands = target.commands();
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0].code, VISCA_PTZ_HOME);
    EXPECT_EQ(commands[1].code, VISCA_PTZ_LEFT);
    EXPECT_FLOAT_EQ(commands[1].arg1, 10);
    EXPECT_FLOAT_EQ(commands[1].arg2, 11);
    EXPECT_EQ(commands[2].code, VISCA_PTZ_TALLY);
    EXPECT_FLOAT_EQ(commands[3].arg2, 21);  // the ring's lock orders the reads below
    EXPECT_EQ(target.pan_target, -2 * 256);
    EXPECT_EQ(target.tilt_target, 3 * 256);
}

TEST_F(PtzviscaClientAsRoot, ErrorsAndSilenceGiveNonZeroStatus) {
    target.limit_state = -1;
    start();
    const auto early = network({"abs", "1", "1"});
    EXPECT_EQ(early.status, 1);
    EXPECT_EQ(early.out, "ACK\nSyntax error 90 60 02 FF\n");
    const auto inquiry = network({"inq", "pantilt"});
    EXPECT_EQ(inquiry.status, 1);
    EXPECT_EQ(inquiry.out, "Syntax error 90 60 02 FF\n");
    const auto nobody = runProcess(PTZVISCA_BINARY, {"--host", "127.0.0.1", "--port", std::to_string(freePort()),
                                                     "--listen", std::to_string(freePort()), "--timeout", "200",
                                                     "home"});
    EXPECT_EQ(nobody.status, 2);
    EXPECT_EQ(nobody.out, "Timeout\n");
    const auto unknown = network({"dance"});
    EXPECT_EQ(unknown.status, 64);
    EXPECT_NE(unknown.err.find("unknown command 'dance'"), std::string::npos);
    EXPECT_EQ(network({"left", "25"}).status, 64);
    EXPECT_TRUE(target.commands().empty());
}
