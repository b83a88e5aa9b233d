// The camera module over LANC against the camera model behind block 1024: the words written,
// power sequences, and what the model's camera does with them.
#include <gtest/gtest.h>

#include <atomic>

#include <nlohmann/json.hpp>

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
constexpr uint32_t kPowerWord = CameraModule::kBlock + CameraModule::kPowerRegister;

sim::SimSettings cameraSettings(bool on, bool stuck = false) {
    sim::SimSettings s = quietSettings("none");
    s.servo.present = false;
    s.camera.startsOn = on;
    s.camera.stuck = stuck;
    s.camera.powerOnDelay = 300ms;
    s.camera.powerOffDelay = 200ms;
    return s;
}

class Lanc : public ::testing::Test {
protected:
    explicit Lanc(bool on = true, bool stuck = false)
        : camera(cameraSettings(on, stuck)), hw(std::make_shared<hardware>(camera.platform())) {}

    sim::VirtualCamera camera;
    std::shared_ptr<hardware> hw;
    std::atomic<int8_t> multiport_mode{0};
    std::atomic<uint8_t> servo_flags{0};
    MultiPort adapter;
    CameraModule module{hw, multiport_mode, servo_flags, adapter};
};

struct LancCameraOff : Lanc {
    LancCameraOff() : Lanc(false) {}
};

struct LancCameraStuck : Lanc {
    LancCameraStuck() : Lanc(true, true) {}
};
}  // namespace

TEST_F(Lanc, ZoomAndFocusWordsStandUntilTheNext) {
    const struct { std::function<void()> call; uint32_t word; } cases[] = {
        {[&] { module.lancZoomDrive(3, 1, 0); }, 0x0628}, {[&] { module.lancZoomDrive(-3, 1, 0); }, 0x1628},
        {[&] { module.lancZoomDrive(0, 1, 0); }, 0}, {[&] { module.lancZoomDrive(0, 0, 0.5f); }, 0x0628},
        {[&] { module.lancZoomDrive(0, 0, -1.0f); }, 0x1E28}, {[&] { module.lancZoomDrive(0, 0, 0.1f); }, 0x0028},
        {[&] { module.focusSpeedVariable(0x27, 1, 0); }, 0xEB28},
        {[&] { module.focusSpeedVariable(0x31, 1, 0); }, 0xF128},
        {[&] { module.focusSpeedVariable(0x20, 1, 0); }, 0xE128}, {[&] { module.focusSpeedVariable(0x41, 1, 0); }, 0},
        {[&] { module.focusSpeedVariable(0, 0, 0.5f); }, 0xF528},
        {[&] { module.focusSpeedVariable(0, 0, -0.5f); }, 0xE528},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        cases[i].call();
        EXPECT_EQ(camera.fpga().peek(kLancWord), cases[i].word) << i;
    }
}

TEST_F(Lanc, KeysAndTogglesArePressedThenReleased) {
    const struct { std::function<void()> call; uint32_t word; } cases[] = {
        {[&] { module.lancPulse(0x9A); }, 0x9A18},      {[&] { module.cameraRecordKey(); }, 0x3318},
        {[&] { module.cameraKeyB4(); }, 0xB418},        {[&] { module.focusMode(1); }, 0x4128},
        {[&] { module.exposureMode(0); }, 0xAF28},      {[&] { module.focusSpeed(0x20); }, 0x4528},
        {[&] { module.irisSet(0x55, 1, 0x55); }, 0x5528},
    };
    for (const auto& c : cases) {
        c.call();
        EXPECT_EQ(camera.cameraModule().view().lanc, c.word);
        EXPECT_EQ(camera.fpga().peek(kLancWord), 0u) << c.word;
    }
    EXPECT_TRUE(camera.cameraModule().view().recording);
    EXPECT_FALSE(camera.cameraModule().view().autoFocus);
    EXPECT_FALSE(camera.cameraModule().view().autoExposure);
}

TEST_F(Lanc, IrisPositionsStepTowardTheNewPosition) {
    const int start = camera.cameraModule().view().iris;
    const struct { uint8_t position; int change; } steps[] = {{5, +1}, {5, 0}, {3, -1}, {9, +1}};
    for (const auto& s : steps) {
        const int before = camera.cameraModule().view().iris;
        module.irisSet(s.position, 1, CameraModule::kIrisPositionMarker);
        EXPECT_EQ(camera.cameraModule().view().iris - before, s.change) << int(s.position);
    }
    EXPECT_EQ(camera.cameraModule().view().iris, start + 1);
}

TEST_F(Lanc, ServoHeadsAndTheAdapterWriteNoLanc) {
    servo_flags = 1;
    module.lancZoomDrive(3, 1, 0);
    module.lancPulse(0x84);
    EXPECT_EQ(camera.cameraModule().view().lanc, 0u);
    servo_flags = 0;
    multiport_mode = 1;
    module.focusSpeedVariable(0x27, 1, 0);
    EXPECT_EQ(camera.cameraModule().view().lanc, 0u);
    EXPECT_EQ(module.cameraPowerGet(), CameraModule::kOn);
}

TEST_F(Lanc, HeldZoomMovesTheLensOfACameraThatIsOn) {
    module.lancZoomDrive(7, 1, 0);
    EXPECT_TRUE(waitFor([&] { return camera.cameraModule().view().zoom > 200; }));
    module.lancZoomDrive(0, 1, 0);
    const int stopped = camera.cameraModule().view().zoom;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(camera.cameraModule().view().zoom, stopped);
    const auto state = camera.api().state()["camera"];
    EXPECT_EQ(state["zoom"], stopped);
    EXPECT_EQ(state["lanc"], 0x0E28u);
    EXPECT_TRUE(state.contains("focus") && state.contains("iris"));
}

TEST_F(Lanc, PowerOffThenOnFollowsTheSense) {
    std::atomic<int32_t> requested{1};
    LogCapture log(5);
    module.cameraPowerSet(requested);
    EXPECT_EQ(requested.load(), 1);
    EXPECT_EQ(module.cameraPowerGet(), CameraModule::kOffAnswer);
    EXPECT_EQ(camera.fpga().peek(kLancWord), 0u);
    EXPECT_EQ(camera.api().state()["camera"]["power"], "off");
    EXPECT_EQ(camera.api().state()["camera"]["lanc"], 0x5E18u);
    requested = 0;
    module.cameraPowerSet(requested);
    EXPECT_EQ(requested.load(), 0);
    EXPECT_EQ(module.cameraPowerGet(), CameraModule::kOn);
    EXPECT_EQ(camera.fpga().peek(kPowerWord) & 3u, 0u);
    EXPECT_EQ(camera.api().state()["camera"]["power"], "on");
    requested = 0;
    module.cameraPowerSet(requested);
    EXPECT_EQ(log.text().find("TimeOver"), std::string::npos);
    EXPECT_NE(log.text().find("Camera Power Off\n"), std::string::npos);
    EXPECT_NE(log.text().find("Camera Power On\nGET:Camera Power On\nalready power on\n"), std::string::npos);
}

TEST_F(LancCameraOff, OffCameraIgnoresLancAndAnOffRequest) {
    module.lancZoomDrive(7, 1, 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(camera.cameraModule().view().zoom, 0);
    module.lancZoomDrive(0, 1, 0);
    std::atomic<int32_t> requested{1};
    LogCapture log(5);
    module.cameraPowerSet(requested);
    EXPECT_EQ(log.text(), "already power off\n");
    EXPECT_EQ(camera.cameraModule().view().on, false);
}

TEST_F(LancCameraStuck, SenseThatNeverChangesTimesOutAndTheCommandCompletesButStopEndsItAtOnce) {
    std::atomic<int32_t> requested{1};
    LogCapture log(5);
    const auto took = elapsed([&] { module.cameraPowerSet(requested); });
    EXPECT_NE(log.text().find("Camera Power Off TimeOver\n"), std::string::npos);
    EXPECT_EQ(requested.load(), 0);  // still on: the outcome is what the sense says
    EXPECT_GE(took, CameraModule::kPollPeriod * (CameraModule::kPowerPolls - 1));
    EXPECT_EQ(camera.fpga().peek(kLancWord), 0u);

    // Stop ends a power sequence at once.
    requested = 1;
    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        module.stop();
    });
    EXPECT_LT(elapsed([&] { module.cameraPowerSet(requested); }), 1s);
    stopper.join();
    EXPECT_EQ(camera.fpga().peek(kLancWord), 0u);
}
