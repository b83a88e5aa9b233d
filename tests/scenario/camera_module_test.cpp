// The camera module against the camera model behind block 1024 (LANC words, power sequences) and
// the MultiPort adapter on /dev/ttyS1 against its model (probe, key and reply frames, floods, a
// hang-up).
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <thread>

#include <nlohmann/json.hpp>

#include "control/multiport_input.h"
#include "hw/hardware.h"
#include "motion/camera_module.h"
#include "motion/multi_port.h"
#include "sim/app/virtual_camera.h"
#include "support/log_capture.h"
#include "support/quiet_settings.h"
#include "support/scenario_elapsed.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
constexpr uint32_t kLancWord = CameraModule::kBlock + CameraModule::kLancRegister;

struct Lanc {
    explicit Lanc(bool on = true, bool stuck = false) : camera([&] {
        sim::SimSettings s = quietSettings("none");
        s.servo.present = false;
        s.camera.startsOn = on;
        s.camera.stuck = stuck;
        s.camera.powerOnDelay = 300ms;
        s.camera.powerOffDelay = 200ms;
        return s;
    }()) {}
    uint32_t word() { return camera.fpga().peek(kLancWord); }
    sim::CameraModuleModel::View view() { return camera.cameraModule().view(); }

    sim::VirtualCamera camera;
    std::shared_ptr<hardware> hw = std::make_shared<hardware>(camera.platform());
    std::atomic<int8_t> multiport_mode{0};
    std::atomic<uint8_t> servo_flags{0};
    MultiPort adapter;
    CameraModule module{hw, multiport_mode, servo_flags, adapter};
};
}  // namespace

TEST(LancWords, DrivesStandUntilTheNextKeysArePressedThenReleasedAndIrisSteps) {
    Lanc l;
    CameraModule& m = l.module;
    const struct { std::function<void()> call; uint32_t standing, pressed; } cases[] = {
        {[&] { m.lancZoomDrive(3, 1, 0); }, 0x0628, 0}, {[&] { m.lancZoomDrive(-3, 1, 0); }, 0x1628, 0},
        {[&] { m.lancZoomDrive(0, 1, 0); }, 0, 0}, {[&] { m.lancZoomDrive(0, 0, 0.5f); }, 0x0628, 0},
        {[&] { m.lancZoomDrive(0, 0, -1.0f); }, 0x1E28, 0}, {[&] { m.lancZoomDrive(0, 0, 0.1f); }, 0x0028, 0},
        {[&] { m.focusSpeedVariable(0x27, 1, 0); }, 0xEB28, 0}, {[&] { m.focusSpeedVariable(0x31, 1, 0); }, 0xF128, 0},
        {[&] { m.focusSpeedVariable(0x20, 1, 0); }, 0xE128, 0}, {[&] { m.focusSpeedVariable(0x41, 1, 0); }, 0, 0},
        {[&] { m.focusSpeedVariable(0, 0, 0.5f); }, 0xF528, 0}, {[&] { m.focusSpeedVariable(0, 0, -0.5f); }, 0xE528, 0},
        {[&] { m.lancPulse(0x9A); }, 0, 0x9A18}, {[&] { m.cameraRecordKey(); }, 0, 0x3318},
        {[&] { m.cameraKeyB4(); }, 0, 0xB418}, {[&] { m.focusMode(1); }, 0, 0x4128},
        {[&] { m.exposureMode(0); }, 0, 0xAF28}, {[&] { m.focusSpeed(0x20); }, 0, 0x4528},
        {[&] { m.irisSet(0x55, 1, 0x55); }, 0, 0x5528},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        cases[i].call();
        EXPECT_EQ(l.word(), cases[i].standing) << i;
        if (cases[i].pressed != 0) { EXPECT_EQ(l.view().lanc, cases[i].pressed) << i; }
    }
    EXPECT_TRUE(l.view().recording);
    EXPECT_FALSE(l.view().autoFocus);
    EXPECT_FALSE(l.view().autoExposure);

    const int start = l.view().iris;
    const struct { uint8_t position; int change; } steps[] = {{5, +1}, {5, 0}, {3, -1}, {9, +1}};
    for (const auto& s : steps) {
        const int before = l.view().iris;
        m.irisSet(s.position, 1, CameraModule::kIrisPositionMarker);
        EXPECT_EQ(l.view().iris - before, s.change) << int(s.position);
    }
    EXPECT_EQ(l.view().iris, start + 1);
    // Servo heads and the adapter write no LANC.
    const uint32_t last = l.view().lanc;
    l.servo_flags = 1;
    m.lancZoomDrive(3, 1, 0);
    m.lancPulse(0x84);
    l.servo_flags = 0;
    l.multiport_mode = 1;
    m.focusSpeedVariable(0x27, 1, 0);
    EXPECT_EQ(l.view().lanc, last);
    EXPECT_EQ(l.word(), 0u);
}

// The queue's power codes run in the service scenario; here the replies to a repeated request.
TEST(LancPower, AnOffCameraIgnoresLancAndARepeatedRequestIsAnsweredAlready) {
    Lanc l;
    std::atomic<int32_t> requested{1};
    l.module.cameraPowerSet(requested);
    EXPECT_EQ(l.camera.api().state()["camera"]["lanc"], 0x5E18u);
    l.module.lancZoomDrive(7, 1, 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(l.view().zoom, 0);
    l.module.lancZoomDrive(0, 1, 0);
    LogCapture log(5);
    l.module.cameraPowerSet(requested);
    requested = 0;
    l.module.cameraPowerSet(requested);
    l.module.cameraPowerSet(requested);
    EXPECT_EQ(log.text(), "already power off\nCamera Power On\nalready power on\n");
}

TEST(LancPower, SenseThatNeverChangesTimesOutAndTheCommandCompletesButStopEndsItAtOnce) {
    Lanc l(true, true);
    std::atomic<int32_t> requested{1};
    LogCapture log(5);
    const auto took = elapsed([&] { l.module.cameraPowerSet(requested); });
    EXPECT_NE(log.text().find("Camera Power Off TimeOver\n"), std::string::npos);
    EXPECT_EQ(requested.load(), 0);  // still on: the outcome is what the sense says
    EXPECT_GE(took, CameraModule::kPollPeriod * (CameraModule::kPowerPolls - 1));
    EXPECT_EQ(l.word(), 0u);
    requested = 1;
    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        l.module.stop();
    });
    EXPECT_LT(elapsed([&] { l.module.cameraPowerSet(requested); }), 1s);
    stopper.join();
    EXPECT_EQ(l.word(), 0u);
}

namespace {
sim::SimSettings adapterSettings(bool adapter) {
    sim::SimSettings s = quietSettings("none");
    s.servo.present = false;
    s.multiport = adapter;
    return s;
}

struct Adapter {
    bool probe() {
        testing::internal::CaptureStdout();
        const bool found = port.probe();
        printed = testing::internal::GetCapturedStdout();
        return found;
    }
    bool received(const std::string& frame) {
        return waitFor([&] {
            const auto f = camera.multiPort()->frames();
            return std::find(f.begin(), f.end(), frame) != f.end();
        });
    }
    sim::VirtualCamera camera{adapterSettings(true)};
    MultiPort port;
    std::string printed;
};
}  // namespace

TEST(MultiPortProbe, FindsTheAdapterAtItsSpeedAndAnswersCountByTheirFirstSevenCharacters) {
    Adapter a;
    EXPECT_TRUE(a.probe());
    EXPECT_NE(a.printed.find("...Ok.\nMultiPort Mode Enable (LANC Disable).\n"), std::string::npos);
    EXPECT_EQ(a.camera.root().ttyS1().baud(), MultiPort::kProbeBaud);
    EXPECT_TRUE(a.received("#tulmo*"));
    uint8_t buf[16];
    ASSERT_EQ(a.port.readTimed(buf, 5), 5);  // its detection frame follows the ping's answer
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "%000*");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(a.port.readOnce(buf, sizeof buf), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(a.port.read_timeout_ms));
    // Without the adapter the test answers the ping on the line.
    sim::VirtualCamera camera(adapterSettings(false));
    EXPECT_EQ(camera.api().state()["multiport"]["present"], false);
    const int master = camera.root().ttyS1().master();
    const struct { const char* answer; bool found; } cases[] = {
        {"$tulmo*%000*", true}, {"$tulmo", false}, {"#tulmo*", false}, {"", false}};
    for (const auto& c : cases) {
        std::thread responder([&] {
            std::string got;
            char chunk[64];
            for (pollfd in{master, POLLIN, 0}; got.find('*') == std::string::npos && poll(&in, 1, 1000) > 0;) {
                const ssize_t n = ::read(master, chunk, sizeof chunk);
                if (n > 0) got.append(chunk, static_cast<size_t>(n));
            }
            EXPECT_EQ(got, "#tulmo*");
            EXPECT_EQ(::write(master, c.answer, strlen(c.answer)), static_cast<ssize_t>(strlen(c.answer)));
        });
        MultiPort port;
        testing::internal::CaptureStdout();
        EXPECT_EQ(port.probe(), c.found) << c.answer;
        EXPECT_NE(testing::internal::GetCapturedStdout().find(c.found ? "...Ok." : "...Failed."), std::string::npos);
        responder.join();
    }
    // A probe nobody answers ends as soon as the camera stops waiting, and so do later ones.
    MultiPort silent;
    std::thread stopper([&] { std::this_thread::sleep_for(100ms); silent.stopWaiting(); });
    testing::internal::CaptureStdout();
    EXPECT_LT(elapsed([&] { EXPECT_FALSE(silent.probe()); }), 500ms);
    EXPECT_LT(elapsed([&] { EXPECT_FALSE(silent.probe()); }), 100ms);
    testing::internal::GetCapturedStdout();
    stopper.join();
    // Open knows no 230400 but setBaud does.
    MultiPort port;
    ASSERT_EQ(port.open(230400, MultiPort::kPort), 1);
    EXPECT_EQ(camera.root().ttyS1().baud(), 115200);
    EXPECT_EQ(port.setBaud(230400), 1);
    EXPECT_EQ(port.open(0, nullptr), 0);
    EXPECT_EQ(port.descriptor(), -1);
    EXPECT_EQ(port.setBaud(9600), -1);
}

TEST(MultiPortKeys, KeyFramesOfTheCameraOperations) {
    Adapter a;
    ASSERT_TRUE(a.probe());
    auto hw = std::make_shared<hardware>(a.camera.platform());
    std::atomic<int8_t> mode{1};
    std::atomic<uint8_t> flags{0};
    CameraModule module(hw, mode, flags, a.port);
    std::atomic<int32_t> power{1};
    const struct { std::function<void()> call; std::vector<std::string> sent; } cases[] = {
        {[&] { module.lancZoomDrive(-3, 1, 0); }, {"#7530*"}}, {[&] { module.lancZoomDrive(-2, 1, 0); }, {"#7520*"}},
        {[&] { module.lancZoomDrive(5, 1, 0); }, {"#7450*"}}, {[&] { module.lancZoomDrive(0, 1, 0); }, {"#7590*"}},
        {[&] { module.cameraRecordKey(); }, {"#7100*", "#7110*"}},
        {[&] { module.cameraKeyB4(); }, {"#7000*", "#7010*"}}, {[&] { module.cameraRecord(); }, {"#7300*", "#7310*"}},
        {[&] { module.focusMode(0); }, {"#7200*", "#7210*"}},
        {[&] { module.cameraPowerSet(power); }, {"#7P00*", "#7P10*"}},
    };
    for (const auto& c : cases) {
        c.call();
        ASSERT_TRUE(a.received(c.sent.back())) << c.sent.back();
        const auto f = a.camera.multiPort()->frames();
        EXPECT_EQ(std::vector<std::string>(f.end() - static_cast<long>(c.sent.size()), f.end()), c.sent);
    }
    EXPECT_EQ(power.load(), 0);
    EXPECT_EQ(a.camera.cameraModule().view().lanc, 0u);  // nothing went over LANC
    EXPECT_EQ(a.camera.api().state()["multiport"]["keys"].back(), "#7P10*");
}

TEST(MultiPortInput, QueriesAnsweredStatusLoggedFloodsServedInBoundedTimeAndAHangUpClosesThePort) {
    Adapter a;
    ASSERT_TRUE(a.probe());
    MultiPortInput input(a.port);
    LogCapture log(5);
    const struct { std::string in; std::string logged; } cases[] = {
        {"%712", "MultiPort:: Reply\n"}, {"$74300*", "MultiPort:: Zoom Tele 3\n"},
        {"$75800*", "MultiPort:: Zoom Wide 8\n"}, {"$75900*", "MultiPort:: Zoom Stop\n"},
        {"$71000*", "MultiPort:: Start/Stop Recording\n"}, {"$71100*", "MultiPort:: Finish Start/Stop Recording\n"},
        {"$74900*", ""}, {"$7430", ""},
    };
    for (const auto& c : cases) {
        const size_t before = log.text().size();
        input.handle({reinterpret_cast<const uint8_t*>(c.in.data()), c.in.size()});
        EXPECT_EQ(log.text().substr(before), c.logged) << c.in;
    }
    EXPECT_TRUE(a.received("&71200*"));

    std::mt19937 random(7);
    std::string flood(20000, '\0');
    for (char& c : flood) c = "%$&#7*0159"[random() % 10];
    const int master = a.camera.root().ttyS1().master();
    a.camera.multiPort()->shutdown();  // the test is the adapter now
    const auto start = std::chrono::steady_clock::now();
    size_t written = 0;
    while (written < flood.size() && std::chrono::steady_clock::now() - start < 10s) {
        const ssize_t n = ::write(master, flood.data() + written, std::min<size_t>(512, flood.size() - written));
        if (n > 0) written += static_cast<size_t>(n);
        testing::internal::CaptureStdout();
        input.serve();
        testing::internal::GetCapturedStdout();
    }
    EXPECT_EQ(written, flood.size());
    ASSERT_GE(a.port.descriptor(), 0);
    // A hang-up is logged once and closes the port.
    LogCapture lost(2);
    a.camera.multiPort()->hangUp();
    input.serve();
    input.serve();
    EXPECT_EQ(lost.text(), "MultiPort:: adapter lost\n");
    EXPECT_EQ(a.port.descriptor(), -1);
    EXPECT_EQ(a.port.sendKey('5', '9'), 1);  // keys to a lost adapter go nowhere
}
