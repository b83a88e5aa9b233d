// The virtual camera in a network namespace of its own (eth0 on a veth), driven over VISCA
// from a peer namespace: discovery, head motion and its position inquiry. Malformed datagrams, the
// bridge, saved settings, zoom and presets run the same paths in the receive, motion and preset tests.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <optional>

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

// Pan and tilt as four nibbles each of a signed 16-bit VISCA position.
Bytes positionCommand(uint8_t form, int pan, int tilt) {
    Bytes p = {0x81, 0x01, 0x06, form, 0x18, 0x14};
    for (const int v : {pan, tilt})
        for (int shift = 12; shift >= 0; shift -= 4) p.push_back(static_cast<uint8_t>(v >> shift & 0xF));
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

    static bool waitState(const std::function<bool(json&)>& holds, std::chrono::milliseconds limit) {
        return ::waitState(kHttpPort, holds, limit, pair->camera);
    }
    // The command from the controller is acknowledged and then completed (or answered with `last`).
    void expectCompleted(const Bytes& payload, std::optional<Bytes> last = std::nullopt) {
        const Bytes request = visca::frame(visca::kTypeCommand, ++sequence, payload);
        controller->sendTo(visca::kViscaPort, request, pair->cameraIp);
        std::vector<Bytes> replies;
        for (std::optional<Bytes> reply; replies.size() < 2 && (reply = controller->receive(1s));) replies.push_back(*reply);
        EXPECT_EQ(replies, (std::vector<Bytes>{visca::replyTo(request, visca::ackPayload(1)),
                                               visca::replyTo(request, last.value_or(visca::completionPayload(1)))}))
            << "sequence " << sequence;
    }

    bool waitSettled(const char* axis, long long position) {
        return waitState([&](json& s) { return s[axis]["xactual"] == position && s[axis]["vactual"] == 0; }, 5s);
    }

    static inline std::unique_ptr<NetnsPair> pair;
    static inline std::unique_ptr<ChildProcess> camera;
    static inline std::unique_ptr<ScratchRoot> root;
    static inline uint32_t sequence = 0;
    std::unique_ptr<UdpEndpoint> controller;
};
}  // namespace

TEST_F(CameraInNamespaceAsRoot, AnswersDiscoveryWithTheIdentityOfItsInterface) {
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
}

TEST_F(CameraInNamespaceAsRoot, DrivesHomesAndPositionsTheHead) {
    ASSERT_TRUE(waitState([](json& s) { return s["ptz"]["limit_state"] == 1; }, 15s)) << "never homed";
    const json limits = cameraState(kHttpPort, pair->camera)["ptz"];
    const long long panLeft = limits["pan_left"], panCenter = limits["pan_center"], tiltCenter = limits["tilt_center"];
    // A full speed drive ends one degree inside the homed limit; home brings the head back.
    expectCompleted(drive(0x18, 0x14, 1, 3));
    EXPECT_TRUE(waitSettled("pan", panLeft + kOneDegree));
    expectCompleted({0x81, 0x01, 0x06, 0x04, 0xFF});
    EXPECT_TRUE(waitSettled("pan", panCenter));
    // Absolute positions count 256 microsteps per unit from home.
    expectCompleted(positionCommand(0x02, 100, -50));
    EXPECT_TRUE(waitSettled("pan", panCenter + 25600));
    EXPECT_TRUE(waitSettled("tilt", tiltCenter - 12800));
    // The position inquiry reads the move back in the same nibbles.
    const Bytes inquiry = visca::frame(visca::kTypeInquiry, ++sequence, Bytes{0x81, 0x09, 0x06, 0x12, 0xFF});
    controller->sendTo(visca::kViscaPort, inquiry, pair->cameraIp);
    Bytes position = positionCommand(0x02, 100, -50), answer = {0x90, 0x50};
    answer.insert(answer.end(), position.begin() + 6, position.end());
    EXPECT_EQ(controller->receive(1s), visca::replyTo(inquiry, answer));
    // Syntax errors: a speed out of range, a destination beyond the limits.
    expectCompleted(drive(0x19, 0x10, 1, 3), visca::syntaxErrorPayload(1));
    expectCompleted(positionCommand(0x02, 0x7FFF, 0), visca::syntaxErrorPayload(1));
}
