// The virtual camera in a network namespace of its own (eth0 on a veth), driven over VISCA
// from a peer namespace: replies, discovery, the web bridge, head motion and saved settings.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <optional>
#include <thread>

#include "control/visca_framing.h"
#include "support/camera_state.h"
#include "support/root_only.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using nlohmann::json;

namespace {
constexpr int kHttpPort = 8090;  // inside the camera's namespace nothing else listens
constexpr long long kOneDegree = 8533;  // microsteps: full speed drives stop this far inside the limits
// A fast head model costs ThreadSanitizer more host time than the test has.
#ifdef __SANITIZE_THREAD__
constexpr const char* kHeadSpeed = "4";
#else
constexpr const char* kHeadSpeed = "60";
#endif

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Four nibbles of a signed 16-bit VISCA position.
Bytes nibbles(int value) {
    Bytes n;
    for (int shift = 12; shift >= 0; shift -= 4) n.push_back(static_cast<uint8_t>(value >> shift & 0xF));
    return n;
}

Bytes positionCommand(uint8_t form, int pan, int tilt) {
    Bytes p = {0x81, 0x01, 0x06, form, 0x18, 0x14};
    for (const int v : {pan, tilt})
        for (uint8_t b : nibbles(v)) p.push_back(b);
    p.push_back(0xFF);
    return p;
}

// Pan-tilt drive: speeds, then directions (1 left/up, 2 right/down, 3 stop).
Bytes drive(uint8_t panSpeed, uint8_t tiltSpeed, uint8_t pan, uint8_t tilt) {
    return {0x81, 0x01, 0x06, 0x01, panSpeed, tiltSpeed, pan, tilt, 0xFF};
}

class CameraInNamespaceAsRoot : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pair = std::make_unique<NetnsPair>();
        if (!pair->ready()) return;
        root = std::make_unique<ScratchRoot>();
        // The camera dies with the test process, even when that is killed.
        camera = std::make_unique<ChildProcess>(
            NetnsPair::kIp,
            std::vector<std::string>{"netns", "exec", pair->camera, "/usr/bin/setpriv", "--pdeathsig", "KILL", "--",
                                     PTZCAM_SIM_BINARY, "-X"},
            std::map<std::string, std::string>{{"PTZCAM_ROOT", root->path}, {"PTZSIM_SPEED", kHeadSpeed},
                                               {"PTZSIM_INPUT", "none"}, {"PTZSIM_HTTP", std::to_string(kHttpPort)},
                                               {"PTZCAM_IFACE", ""}});
    }

    static void TearDownTestSuite() {
        if (camera) {
            camera->write("exit\n");
            const ProcessResult result = camera->wait(15s);
            EXPECT_EQ(result.status, 0) << result.err;
            EXPECT_FALSE(result.timedOut);
            for (const char* report : {"ERROR: AddressSanitizer", "runtime error:", "WARNING: ThreadSanitizer"})
                EXPECT_EQ(result.err.find(report), std::string::npos) << result.err;
            camera.reset();
        }
        pair.reset();
        root.reset();
    }

    void SetUp() override {
        SKIP_UNLESS_ROOT("network namespaces");
        ASSERT_TRUE(pair->ready()) << pair->error;
        controller = NetnsPair::udpEndpoint(pair->controller, visca::kViscaPort, INADDR_ANY);
        ASSERT_TRUE(controller && controller->bound());
        // The HTTP API answering means the application is past its start-up; sanitizer builds start slowly.
        ASSERT_TRUE(waitState([](json& s) { return s.contains("ptz"); }, 30s)) << "no state from the camera";
    }

    static json state() { return cameraState(kHttpPort, pair->camera); }
    static bool waitState(const std::function<bool(json&)>& holds, std::chrono::milliseconds limit) {
        return ::waitState(kHttpPort, holds, limit, pair->camera);
    }

    json homedLimits() {
        EXPECT_TRUE(waitState([](json& s) { return s["ptz"]["limit_state"] == 1; }, 15s)) << "never homed";
        return state()["ptz"];
    }

    // Sends one command datagram from the controller and collects the replies that follow.
    std::vector<Bytes> command(const Bytes& payload, uint32_t seq, size_t expected = 2) {
        controller->sendTo(visca::kViscaPort, visca::frame(visca::kTypeCommand, seq, payload), pair->cameraIp);
        return collect(*controller, expected);
    }

    static std::vector<Bytes> collect(const UdpEndpoint& socket, size_t expected) {
        std::vector<Bytes> replies;
        for (std::optional<Bytes> reply; replies.size() < expected && (reply = socket.receive(1s));) replies.push_back(*reply);
        return replies;
    }

    static std::vector<Bytes> replies(const Bytes& payload, uint32_t seq, const Bytes& last, int source = 1) {
        const Bytes request = visca::frame(visca::kTypeCommand, seq, payload);
        return {visca::replyTo(request, visca::ackPayload(source)), visca::replyTo(request, last)};
    }

    // The command from the controller is acknowledged and then completed (or answered with `last`).
    void expectCompleted(const Bytes& payload, std::optional<Bytes> last = std::nullopt) {
        const uint32_t seq = ++sequence;
        EXPECT_EQ(command(payload, seq), replies(payload, seq, last.value_or(visca::completionPayload(1))))
            << "sequence " << seq;
    }

    bool waitSettled(const char* axis, long long position) {
        return waitState([&](json& s) { return s[axis]["xactual"] == position && s[axis]["vactual"] == 0; }, 5s);
    }

    bool waitConfigLine(const std::string& line) {
        return waitFor([&] { return root->config().find(line + "\n") != std::string::npos; }, 2s, 20ms);
    }

    static inline std::unique_ptr<NetnsPair> pair;
    static inline std::unique_ptr<ChildProcess> camera;
    static inline std::unique_ptr<ScratchRoot> root;
    static inline uint32_t sequence = 0;
    std::unique_ptr<UdpEndpoint> controller;
};
}  // namespace

TEST_F(CameraInNamespaceAsRoot, AnswersDiscoveryControlDatagramsAndTheBridge) {
    // Discovery: the identity read from eth0 of the camera's namespace, broadcast to the sender's port.
    const auto finder = NetnsPair::udpEndpoint(pair->controller, 40123, INADDR_ANY);
    ASSERT_TRUE(finder && finder->bound());
    char host[100] = {};
    gethostname(host, sizeof host);
    std::string info = "\x02";
    for (const std::string field : {"MAC:02-50-54-5a-0c-4d", "INFO:network", "MODEL:IPCARD", "SOFTVERSION:2.4.6_90(M)",
                                    "IPADR:10.77.5.2", "MASK:255.255.0.0", "GATEWAY:10.77.0.1"})
        info += field + "\xFF";
    info += "NAME:" + std::string(host).substr(0, 8) + "\xFF" + "WRITE:on\xFF\x03";
    finder->sendTo(visca::kDiscoveryPort, text("\x02" "ENQ:network\xFF\x03"), pair->cameraIp);
    EXPECT_EQ(finder->receive(2s), text(info));
    finder->sendTo(visca::kDiscoveryPort, text("ENQ:network"), pair->cameraIp);
    EXPECT_EQ(finder->receive(2s), text("\x02NAK:02-50-54-5a-0c-4d\xFF\x03"));

    // Control datagrams and malformed ones get the control reply; replies get nothing.
    const struct {
        Bytes datagram;
        std::optional<Bytes> answer;
    } cases[] = {
        {visca::frame(visca::kTypeCommand, 0, Bytes{0x02, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x07, 0x01}),
         Bytes{0x02, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}},  // a control message as a command's payload
        {{0x01, 0x20, 0x00, 0x01, 0x00, 0x00, 0x12, 0x34, 0x81}, Bytes{0x02, 0x01, 0x00, 0x01, 0x00, 0x00, 0x12, 0x34, 0x01}},
        {{0x01, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x09, 0x81, 0x01, 0x06, 0x04},  // no closing 0xFF
         Bytes{0x02, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x09, 0x01}},
        {{0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01}, std::nullopt},  // header only
        {{0x01, 0x11, 0x00, 0x03, 0x00, 0x00, 0x00, 0x05, 0x90, 0x41, 0xFF}, std::nullopt},
        {{0x02, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x01}, std::nullopt},
    };
    for (const auto& test : cases) {
        controller->sendTo(visca::kViscaPort, test.datagram, pair->cameraIp);
        EXPECT_EQ(controller->receive(test.answer ? 1000ms : 300ms), test.answer) << test.datagram.size();
    }

    // The web bridge on the camera's loopback; tally drives the lamp from either source.
    const auto web = NetnsPair::udpEndpoint(pair->camera, visca::kBridgeReplyPort, INADDR_LOOPBACK);
    ASSERT_TRUE(web && web->bound());
    const Bytes tallyOn = {0x82, 0x01, 0x7E, 0x01, 0x0A, 0x00, 0x02, 0xFF};
    web->sendTo(visca::kBridgePort, visca::frame(visca::kTypeCommand, 77, tallyOn));
    EXPECT_EQ(collect(*web, 2), replies(tallyOn, 77, visca::completionPayload(2), 2));
    EXPECT_TRUE(waitState([](json& s) { return s["fpga"]["lamp"] == 1; }, 2s));
    expectCompleted({0x81, 0x01, 0x7E, 0x01, 0x0A, 0x00, 0x03, 0xFF});  // tally off
    EXPECT_TRUE(waitState([](json& s) { return s["fpga"]["lamp"] == 2; }, 2s));
}

TEST_F(CameraInNamespaceAsRoot, DrivesStopsHomesAndPositionsTheHead) {
    json limits = homedLimits();
    const long long panLeft = limits["pan_left"], panCenter = limits["pan_center"];
    const long long tiltUp = limits["tilt_up"], tiltCenter = limits["tilt_center"];
    ASSERT_TRUE(waitSettled("pan", panCenter));

    // Slow left, then stop: the head halts short of its target and stays.
    expectCompleted(drive(0x01, 0x01, 1, 3));
    EXPECT_TRUE(waitState([&](json& s) { return s["pan"]["xactual"] < panCenter - 100; }, 3s));
    expectCompleted(drive(0x05, 0x05, 3, 3));
    ASSERT_TRUE(waitState([](json& s) { return s["pan"]["vactual"] == 0; }, 3s));
    const long long halted = state()["pan"]["xactual"];
    EXPECT_GT(halted, panLeft + kOneDegree);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(state()["pan"]["xactual"], halted);

    // Full speed drives end one degree inside the homed limits.
    expectCompleted(drive(0x18, 0x14, 1, 3));
    EXPECT_TRUE(waitSettled("pan", panLeft + kOneDegree));
    expectCompleted(drive(0x18, 0x14, 3, 1));
    EXPECT_TRUE(waitSettled("tilt", tiltUp - kOneDegree));

    expectCompleted({0x81, 0x01, 0x06, 0x04, 0xFF});  // home
    EXPECT_TRUE(waitSettled("pan", panCenter));
    EXPECT_TRUE(waitSettled("tilt", tiltCenter));

    // Absolute positions count 256 microsteps per unit from home; relative ones from where the head is.
    expectCompleted(positionCommand(0x02, 100, -50));
    EXPECT_TRUE(waitSettled("pan", panCenter + 25600));
    EXPECT_TRUE(waitSettled("tilt", tiltCenter - 12800));
    expectCompleted(positionCommand(0x03, -40, 20));
    EXPECT_TRUE(waitSettled("pan", panCenter + 25600 - 10240));
    EXPECT_TRUE(waitSettled("tilt", tiltCenter - 12800 + 5120));

    // Syntax errors: a speed out of range, a destination beyond the limits.
    expectCompleted(drive(0x19, 0x10, 1, 3), visca::syntaxErrorPayload(1));
    expectCompleted(positionCommand(0x02, 0x7FFF, 0), visca::syntaxErrorPayload(1));
}

TEST_F(CameraInNamespaceAsRoot, PositionInquiriesReadBackAbsoluteMoves) {
    json limits = homedLimits();
    const long long panCenter = limits["pan_center"], tiltCenter = limits["tilt_center"];
    const Bytes inquiry = {0x81, 0x09, 0x06, 0x12, 0xFF};
    for (const auto& [pan, tilt] : {std::pair{100, -50}, {-300, 40}, {0, 0}, {-1, 1}}) {
        expectCompleted(positionCommand(0x02, pan, tilt));
        ASSERT_TRUE(waitSettled("pan", panCenter + 256LL * pan));
        ASSERT_TRUE(waitSettled("tilt", tiltCenter + 256LL * tilt));
        const uint32_t seq = ++sequence;
        const auto answer = command(inquiry, seq, 1);
        Bytes expected = {0x90, 0x50};
        for (const int value : {pan, tilt})
            for (uint8_t b : nibbles(value)) expected.push_back(b);
        expected.push_back(0xFF);
        EXPECT_EQ(answer, std::vector<Bytes>{visca::replyTo(visca::frame(visca::kTypeInquiry, seq, inquiry), expected)});
    }
}

TEST_F(CameraInNamespaceAsRoot, SavesReverseAndRampSettingsAndDrivesReversed) {
    json limits = homedLimits();
    const long long panRight = limits["pan_right"], tiltDown = limits["tilt_down"];
    const struct {
        Bytes payload;
        const char* line;
    } settings[] = {
        {{0x81, 0x01, 0x7E, 0x01, 0x06, 0x00, 0x01, 0xFF}, "PAN_REVERSE=true"},
        {{0x81, 0x01, 0x7E, 0x01, 0x09, 0x00, 0x01, 0xFF}, "TILT_REVERSE=true"},
        {{0x81, 0x01, 0x06, 0x31, 0x03, 0xFF}, "PtzMaxSpeedUp=1.300000"},
    };
    for (const auto& s : settings) {
        expectCompleted(s.payload);
        EXPECT_TRUE(waitConfigLine(s.line)) << s.line << " missing from\n" << root->config();
    }
    // Ramp 7 is accepted but changes nothing.
    expectCompleted({0x81, 0x01, 0x06, 0x31, 0x07, 0xFF});
    std::this_thread::sleep_for(100ms);
    EXPECT_NE(root->config().find("PtzMaxSpeedUp=1.300000\n"), std::string::npos);

    // Reversed: up-left goes down-right.
    expectCompleted(drive(0x18, 0x14, 1, 1));
    EXPECT_TRUE(waitSettled("pan", panRight - kOneDegree));
    EXPECT_TRUE(waitSettled("tilt", tiltDown + kOneDegree));

    expectCompleted({0x81, 0x01, 0x7E, 0x01, 0x06, 0x00, 0x00, 0xFF});
    EXPECT_TRUE(waitConfigLine("PAN_REVERSE=false"));
}

// The zoom servo over VISCA: calibrated at start-up, direct and continuous zoom within its
// limits, and a preset stored in the EEPROM file and recalled with its zoom.
TEST_F(CameraInNamespaceAsRoot, ZoomsAndRecallsAPresetWithItsZoom) {
    homedLimits();
    ASSERT_TRUE(waitState([](json& s) { return s["ptz"]["zoom_ready"] == 1; }, 30s)) << "zoom never calibrated";
    const json ptz = state()["ptz"];
    const int low = ptz["zoom_min"], high = ptz["zoom_max"];
    EXPECT_EQ(ptz["servo_flags"], 1);
    auto zoomAt = [&](const std::function<bool(int)>& where) {
        return waitState([&](json& s) { return s["zoom"]["moving"] == 0 && where(s["zoom"]["position"].get<int>()); }, 10s);
    };
    expectCompleted({0x81, 0x01, 0x04, 0x47, 0x02, 0x00, 0x00, 0x00, 0xFF});  // 8192: the middle
    EXPECT_TRUE(zoomAt([&](int p) { return std::abs(p - (low + high) / 2) <= 1; }));
    expectCompleted({0x81, 0x01, 0x04, 0x3F, 0x01, 0x02, 0xFF});  // save preset 2
    ASSERT_TRUE(waitState([](json& s) { return s["eeprom"].get<std::string>().substr(48, 2) != "ff"; }, 3s));
    const int stored = state()["zoom"]["position"];

    expectCompleted({0x81, 0x01, 0x04, 0x07, 0x27, 0xFF});  // tele
    EXPECT_TRUE(waitState([&](json& s) { return s["zoom"]["position"].get<int>() < low + 200; }, 10s));
    expectCompleted({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF});  // stop
    EXPECT_TRUE(zoomAt([&](int p) { return p > low; }));

    expectCompleted({0x81, 0x01, 0x04, 0x3F, 0x02, 0x02, 0xFF});  // recall preset 2
    EXPECT_TRUE(zoomAt([&](int p) { return p == stored; }));
}
