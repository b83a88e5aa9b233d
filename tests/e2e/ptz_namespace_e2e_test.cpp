// The virtual camera in a network namespace of its own (eth0 on a veth), driven over VISCA
// from a peer namespace: replies, discovery, the web bridge, head motion and saved settings.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include <nlohmann/json.hpp>

#include "control/visca_framing.h"
#include "support/netns_pair.h"
#include "support/child_process.h"
#include "support/root_only.h"
#include "support/wait_for.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using nlohmann::json;

namespace {
constexpr int kHttpPort = 8090;  // inside the camera's namespace nothing else listens
// The head model catches up in steps of its clock; under ThreadSanitizer a fast head
// costs more host time than the test has.
#ifdef __SANITIZE_THREAD__
constexpr const char* kHeadSpeed = "4";
#else
constexpr const char* kHeadSpeed = "60";
#endif

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

class CameraInNamespaceAsRoot : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pair = std::make_unique<NetnsPair>();
        if (!pair->ready()) return;
        std::string pattern = (fs::temp_directory_path() / "ptzcam-netns.XXXXXX").string();
        root = mkdtemp(pattern.data());
        fs::create_directories(root + "/root");
        camera = std::make_unique<ChildProcess>(
            // The camera dies with the test process, even when that is killed.
            NetnsPair::kIp,
            std::vector<std::string>{"netns", "exec", pair->camera, "/usr/bin/setpriv", "--pdeathsig", "KILL", "--",
                                     PTZCAM_SIM_BINARY, "-X"},
            std::map<std::string, std::string>{{"PTZCAM_ROOT", root},
                                               {"PTZSIM_SPEED", kHeadSpeed},
                                               {"PTZSIM_INPUT", "none"},
                                               {"PTZSIM_HTTP", std::to_string(kHttpPort)},
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
        if (!root.empty()) fs::remove_all(root);
    }

    void SetUp() override {
        SKIP_UNLESS_ROOT("network namespaces");
        ASSERT_TRUE(pair->ready()) << pair->error;
        controller = NetnsPair::udpEndpoint(pair->controller, visca::kViscaPort, INADDR_ANY);
        ASSERT_TRUE(controller && controller->bound());
        // The HTTP API answering means the application is past its start-up.
        // Sanitizer builds start slowly on a busy machine: the wait is generous, a hang still fails.
        ASSERT_TRUE(waitState([](json& s) { return s.contains("ptz"); }, 30s)) << "no state from the camera";
    }

    static json state() {
        std::string body;
        NetnsPair::inside(pair->camera, [&] { body = httpGet(kHttpPort, "/state"); });
        return json::parse(body, nullptr, false);
    }

    static bool waitState(const std::function<bool(json&)>& condition, std::chrono::milliseconds limit) {
        return waitFor(
            [&] {
                json s = state();
                return !s.is_discarded() && condition(s);
            },
            limit, 20ms);
    }

    json homedLimits() {
        EXPECT_TRUE(waitState([](json& s) { return s["ptz"]["limit_state"] == 1; }, 15s)) << "never homed";
        return state()["ptz"];
    }

    // Sends one command datagram from the controller and collects the replies that follow.
    std::vector<Bytes> command(const Bytes& payload, uint32_t sequence, size_t expected = 2) {
        const Bytes request = visca::frame(visca::kTypeCommand, sequence, payload);
        controller->sendTo(visca::kViscaPort, request, pair->cameraIp);
        return collect(*controller, expected, 1s);
    }

    static std::vector<Bytes> collect(const UdpEndpoint& socket, size_t expected, std::chrono::milliseconds each) {
        std::vector<Bytes> replies;
        while (replies.size() < expected)
            if (auto reply = socket.receive(each))
                replies.push_back(*reply);
            else
                break;
        return replies;
    }

    static std::vector<Bytes> ackAndCompletion(const Bytes& payload, uint32_t sequence, int source = 1) {
        const Bytes request = visca::frame(visca::kTypeCommand, sequence, payload);
        return {visca::replyTo(request, visca::ackPayload(source)), visca::replyTo(request, visca::completionPayload(source))};
    }

    // Axis position and velocity from the chip model.
    static bool settledAt(json& s, const char* axis, long long position) {
        return s[axis]["xactual"] == position && s[axis]["vactual"] == 0;
    }

    bool waitSettled(const char* axis, long long position) {
        return waitState([&](json& s) { return settledAt(s, axis, position); }, 5s);
    }

    std::string configFile() const {
        std::ifstream in(root + "/root/server/config.cfg");
        return {std::istreambuf_iterator<char>(in), {}};
    }

    bool waitConfigLine(const std::string& line) {
        for (int i = 0; i < 100; ++i) {
            if (configFile().find(line + "\n") != std::string::npos) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    static inline std::unique_ptr<NetnsPair> pair;
    static inline std::unique_ptr<ChildProcess> camera;
    static inline std::string root;
    std::unique_ptr<UdpEndpoint> controller;
};

// Four nibbles of a signed 16-bit VISCA position.
Bytes nibbles(int16_t value) {
    const auto v = static_cast<uint16_t>(value);
    return {static_cast<uint8_t>(v >> 12 & 0xF), static_cast<uint8_t>(v >> 8 & 0xF), static_cast<uint8_t>(v >> 4 & 0xF),
            static_cast<uint8_t>(v & 0xF)};
}

Bytes positionCommand(uint8_t form, int16_t pan, int16_t tilt) {
    Bytes p = {0x81, 0x01, 0x06, form, 0x18, 0x14};
    for (uint8_t b : nibbles(pan)) p.push_back(b);
    for (uint8_t b : nibbles(tilt)) p.push_back(b);
    p.push_back(0xFF);
    return p;
}
}  // namespace

TEST_F(CameraInNamespaceAsRoot, AnswersDiscoveryControlDatagramsAndTheBridge) {
    // Discovery: the identity read from eth0 of the camera's namespace, broadcast to the sender's port.
    const auto finder = NetnsPair::udpEndpoint(pair->controller, 40123, INADDR_ANY);
    ASSERT_TRUE(finder && finder->bound());
    char host[100] = {};
    gethostname(host, sizeof host);
    const std::string name = std::string(host).substr(0, 8);
    Bytes info = {0x02};
    for (const std::string& field : std::vector<std::string>{"MAC:02-50-54-5a-0c-4d", "INFO:network", "MODEL:IPCARD", "SOFTVERSION:2.4.6_90(M)",
                                    "IPADR:10.77.5.2", "MASK:255.255.0.0", "GATEWAY:10.77.0.1", "NAME:" + name,
                                    "WRITE:on"}) {
        for (char c : field) info.push_back(static_cast<uint8_t>(c));
        info.push_back(0xFF);
    }
    info.push_back(0x03);
    finder->sendTo(visca::kDiscoveryPort, text("\x02" "ENQ:network\xFF\x03"), pair->cameraIp);
    EXPECT_EQ(finder->receive(2s), info);
    Bytes nak = text("\x02NAK:02-50-54-5a-0c-4d\xFF\x03");
    finder->sendTo(visca::kDiscoveryPort, text("ENQ:network"), pair->cameraIp);
    EXPECT_EQ(finder->receive(2s), nak);

    // Control datagrams and malformed ones get the control reply; replies get nothing.
    const Bytes controlCommand = {0x02, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x07, 0x01};
    const auto c = command(controlCommand, 0, 1);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0], (Bytes{0x02, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}));
    const struct {
        Bytes datagram;
        std::optional<Bytes> answer;
    } cases[] = {
        {{0x01, 0x20, 0x00, 0x01, 0x00, 0x00, 0x12, 0x34, 0x81}, Bytes{0x02, 0x01, 0x00, 0x01, 0x00, 0x00, 0x12, 0x34, 0x01}},
        {{0x01, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x09, 0x81, 0x01, 0x06, 0x04}, 
         Bytes{0x02, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x09, 0x01}},  // no closing 0xFF
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
    EXPECT_EQ(collect(*web, 2, 1s), ackAndCompletion(tallyOn, 77, 2));
    EXPECT_TRUE(waitState([](json& s) { return s["fpga"]["lamp"] == 1; }, 2s));
    const Bytes tallyOff = {0x81, 0x01, 0x7E, 0x01, 0x0A, 0x00, 0x03, 0xFF};
    EXPECT_EQ(command(tallyOff, 78), ackAndCompletion(tallyOff, 78));
    EXPECT_TRUE(waitState([](json& s) { return s["fpga"]["lamp"] == 2; }, 2s));
}

TEST_F(CameraInNamespaceAsRoot, DrivesStopsHomesAndPositionsTheHead) {
    json limits = homedLimits();
    const long long panLeft = limits["pan_left"], panCenter = limits["pan_center"];
    const long long tiltUp = limits["tilt_up"], tiltCenter = limits["tilt_center"];
    ASSERT_TRUE(waitSettled("pan", panCenter));

    // Slow left, then stop: the head halts short of its target and stays.
    const Bytes slowLeft = {0x81, 0x01, 0x06, 0x01, 0x01, 0x01, 0x01, 0x03, 0xFF};
    EXPECT_EQ(command(slowLeft, 1), ackAndCompletion(slowLeft, 1));
    EXPECT_TRUE(waitState([&](json& s) { return s["pan"]["xactual"] < panCenter - 100; }, 3s));
    const Bytes stop = {0x81, 0x01, 0x06, 0x01, 0x05, 0x05, 0x03, 0x03, 0xFF};
    EXPECT_EQ(command(stop, 2), ackAndCompletion(stop, 2));
    ASSERT_TRUE(waitState([](json& s) { return s["pan"]["vactual"] == 0; }, 3s));
    const long long halted = state()["pan"]["xactual"];
    EXPECT_GT(halted, panLeft + 8533);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(state()["pan"]["xactual"], halted);

    // Full speed drives end one degree inside the homed limits.
    const Bytes fastLeft = {0x81, 0x01, 0x06, 0x01, 0x18, 0x14, 0x01, 0x03, 0xFF};
    EXPECT_EQ(command(fastLeft, 3), ackAndCompletion(fastLeft, 3));
    EXPECT_TRUE(waitSettled("pan", panLeft + 8533));
    const Bytes fastUp = {0x81, 0x01, 0x06, 0x01, 0x18, 0x14, 0x03, 0x01, 0xFF};
    EXPECT_EQ(command(fastUp, 4), ackAndCompletion(fastUp, 4));
    EXPECT_TRUE(waitSettled("tilt", tiltUp - 8533));

    const Bytes home = {0x81, 0x01, 0x06, 0x04, 0xFF};
    EXPECT_EQ(command(home, 5), ackAndCompletion(home, 5));
    EXPECT_TRUE(waitSettled("pan", panCenter));
    EXPECT_TRUE(waitSettled("tilt", tiltCenter));

    // Absolute positions count 256 microsteps per unit from home; relative ones from where the head is.
    const Bytes absolute = positionCommand(0x02, 100, -50);
    EXPECT_EQ(command(absolute, 6), ackAndCompletion(absolute, 6));
    EXPECT_TRUE(waitSettled("pan", panCenter + 25600));
    EXPECT_TRUE(waitSettled("tilt", tiltCenter - 12800));
    const Bytes relative = positionCommand(0x03, -40, 20);
    EXPECT_EQ(command(relative, 7), ackAndCompletion(relative, 7));
    EXPECT_TRUE(waitSettled("pan", panCenter + 25600 - 10240));
    EXPECT_TRUE(waitSettled("tilt", tiltCenter - 12800 + 5120));

    // Syntax errors: a speed out of range, a destination beyond the limits.
    const Bytes badSpeed = {0x81, 0x01, 0x06, 0x01, 0x19, 0x10, 0x01, 0x03, 0xFF};
    const Bytes request = visca::frame(visca::kTypeCommand, 8, badSpeed);
    EXPECT_EQ(command(badSpeed, 8),
              (std::vector<Bytes>{visca::replyTo(request, visca::ackPayload(1)),
                                  visca::replyTo(request, visca::syntaxErrorPayload(1))}));
    const Bytes beyond = positionCommand(0x02, 0x7FFF, 0);
    const auto replies = command(beyond, 9);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1], visca::replyTo(visca::frame(visca::kTypeCommand, 9, beyond), visca::syntaxErrorPayload(1)));
}

TEST_F(CameraInNamespaceAsRoot, PositionInquiriesReadBackAbsoluteMoves) {
    json limits = homedLimits();
    const long long panCenter = limits["pan_center"], tiltCenter = limits["tilt_center"];
    const Bytes inquiry = {0x81, 0x09, 0x06, 0x12, 0xFF};
    uint32_t sequence = 100;
    for (const auto& [pan, tilt] : {std::pair{100, -50}, {-300, 40}, {0, 0}, {-1, 1}}) {
        const Bytes absolute = positionCommand(0x02, static_cast<int16_t>(pan), static_cast<int16_t>(tilt));
        EXPECT_EQ(command(absolute, sequence), ackAndCompletion(absolute, sequence));
        ASSERT_TRUE(waitSettled("pan", panCenter + 256LL * pan));
        ASSERT_TRUE(waitSettled("tilt", tiltCenter + 256LL * tilt));
        ++sequence;
        const auto replies = command(inquiry, sequence, 1);
        ASSERT_EQ(replies.size(), 1u);
        Bytes expected = {0x90, 0x50};
        for (const int value : {pan, tilt})
            for (int shift = 12; shift >= 0; shift -= 4) expected.push_back(static_cast<uint8_t>((value >> shift) & 0xF));
        expected.push_back(0xFF);
        EXPECT_EQ(replies[0], visca::replyTo(visca::frame(visca::kTypeInquiry, sequence, inquiry), expected));
        ++sequence;
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
    uint32_t sequence = 20;
    for (const auto& s : settings) {
        EXPECT_EQ(command(s.payload, sequence), ackAndCompletion(s.payload, sequence));
        EXPECT_TRUE(waitConfigLine(s.line)) << s.line << " missing from\n" << configFile();
        ++sequence;
    }
    // Ramp 7 is accepted but changes nothing.
    const Bytes ramp7 = {0x81, 0x01, 0x06, 0x31, 0x07, 0xFF};
    EXPECT_EQ(command(ramp7, sequence), ackAndCompletion(ramp7, sequence));
    std::this_thread::sleep_for(100ms);
    EXPECT_NE(configFile().find("PtzMaxSpeedUp=1.300000\n"), std::string::npos);

    // Reversed: up-left goes down-right.
    const Bytes upLeft = {0x81, 0x01, 0x06, 0x01, 0x18, 0x14, 0x01, 0x01, 0xFF};
    EXPECT_EQ(command(upLeft, 30), ackAndCompletion(upLeft, 30));
    EXPECT_TRUE(waitSettled("pan", panRight - 8533));
    EXPECT_TRUE(waitSettled("tilt", tiltDown + 8533));

    const Bytes panNormal = {0x81, 0x01, 0x7E, 0x01, 0x06, 0x00, 0x00, 0xFF};
    EXPECT_EQ(command(panNormal, 31), ackAndCompletion(panNormal, 31));
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
    const Bytes direct = {0x81, 0x01, 0x04, 0x47, 0x02, 0x00, 0x00, 0x00, 0xFF};  // 8192: the middle
    EXPECT_EQ(command(direct, 40), ackAndCompletion(direct, 40));
    EXPECT_TRUE(zoomAt([&](int p) { return std::abs(p - (low + high) / 2) <= 1; }));
    const Bytes save = {0x81, 0x01, 0x04, 0x3F, 0x01, 0x02, 0xFF};
    EXPECT_EQ(command(save, 41), ackAndCompletion(save, 41));
    ASSERT_TRUE(waitState([](json& s) { return s["eeprom"].get<std::string>().substr(48, 2) != "ff"; }, 3s));
    const int stored = state()["zoom"]["position"];

    const Bytes tele = {0x81, 0x01, 0x04, 0x07, 0x27, 0xFF}, stop = {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF};
    EXPECT_EQ(command(tele, 42), ackAndCompletion(tele, 42));
    EXPECT_TRUE(waitState([&](json& s) { return s["zoom"]["position"].get<int>() < low + 200; }, 10s));
    EXPECT_EQ(command(stop, 43), ackAndCompletion(stop, 43));
    EXPECT_TRUE(zoomAt([&](int p) { return p > low; }));

    const Bytes recall = {0x81, 0x01, 0x04, 0x3F, 0x02, 0x02, 0xFF};
    EXPECT_EQ(command(recall, 44), ackAndCompletion(recall, 44));
    EXPECT_TRUE(zoomAt([&](int p) { return p == stored; }));
}
