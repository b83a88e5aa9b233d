// The PTZ service on the virtual camera: start-up settings, the command table as executed by
// the queue thread, what it publishes, and a bounded shutdown.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "control/ptz.h"
#include "hw/hardware.h"
#include "motion/stepper.h"
#include "sim/app/virtual_camera.h"
#include "support/quiet_settings.h"
#include "support/scenario_elapsed.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;
using namespace tmc5041;

namespace {
class Service : public ::testing::Test {
protected:
    void SetUp() override { setenv("PTZCAM_IFACE", "lo", 1); }
    void TearDown() override {
        service.reset();
        hw.reset();
        camera.reset();
        unsetenv("PTZCAM_IFACE");
    }
    void start(const std::string& config = "") {
        sim::SimSettings settings = quietSettings("none");
        settings.motionSpeed = kTestHeadSpeed;
        camera = std::make_unique<sim::VirtualCamera>(settings);
        if (!config.empty()) {
            std::filesystem::create_directories(configDir());
            std::ofstream(configDir() + "/config.cfg") << config;
        }
        hw = std::make_shared<hardware>(camera->platform());
        // No VISCA ports: the VISCA thread is not under test here.
        service = std::make_unique<ptz>(nullptr, hw, nullptr, true, "2.4.6_extra", camera->platform(),
                                        ViscaPorts{0, 0, 0, 0, 0});
    }
    std::string configDir() const { return std::string(std::getenv("PTZCAM_ROOT")) + "/root/server"; }
    std::string configText() const {
        std::ifstream in(configDir() + "/config.cfg");
        return {std::istreambuf_iterator<char>(in), {}};
    }
    bool homed() { return waitFor([&] { return service->limitState() == 1; }, 30s); }
    int32_t panTarget() { return static_cast<int32_t>(camera->motion().peek(reg(Stepper::kPan, XTARGET))); }
    int32_t tiltTarget() { return static_cast<int32_t>(camera->motion().peek(reg(Stepper::kTilt, XTARGET))); }

    std::unique_ptr<sim::VirtualCamera> camera;
    std::shared_ptr<hardware> hw;
    std::unique_ptr<ptz> service;
};
}  // namespace

TEST_F(Service, StartUpSettingsSelectDegreeModeVersionAndSpeedUp) {
    const struct {
        const char* config;
        uint32_t degreeCode;
        const char* version;
        float speedUp;
        bool panReverse;
    } cases[] = {
        {"PtzLimitDegree=200\n", 4, "2.4.6_150(M)", 1.0f, false},
        {"PtzLimitDegree=150\nPAN_REVERSE=true\n", 4, "2.4.6_150-Reverse", 1.0f, true},
        {"PtzLimitDegree=0\nPtzMaxSpeedUp=2.0\n", 1, "2.4.6_0(M)", 1.6f, false},
        {"PtzLimitDegree=350\nTILT_REVERSE=TRUE\n", 0, "2.4.6_350(M)", 1.0f, false},
        {"", 2, "2.4.6_90(M)", 1.0f, false},  // the defaults written on first start
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config);
        start(c.config);
        EXPECT_EQ(camera->fpga().peek(1026), c.degreeCode);
        EXPECT_EQ(service->networkInfo().version_string, c.version);
        EXPECT_FLOAT_EQ(service->motion().max_speed_up.load(), c.speedUp);
        EXPECT_EQ(service->motion().pan_reverse.load(), c.panReverse ? 1 : 0);
        EXPECT_EQ(service->motion().tilt_reverse.load(), 0);
        TearDown();
        SetUp();
    }
}

TEST_F(Service, QueueExecutesTheCommandTable) {
    start();
    ASSERT_TRUE(homed());
    const Stepper& s = service->stepperRef();
    const int32_t left = s.pan_left + 8533, right = s.pan_right - 8533, up = s.tilt_up - 8533;

    service->pushCommand({VISCA_PTZ_TALLY, 1.0f, 0});
    EXPECT_TRUE(waitFor([&] { return camera->fpga().peek(1025) == 1; }));
    EXPECT_EQ(service->tallyOn(), 1);
    service->pushCommand({VISCA_PTZ_TALLY, 0, 0});
    EXPECT_TRUE(waitFor([&] { return camera->fpga().peek(1025) == 2; }));

    const struct { int32_t code; int mode; } balance[] = {{NDI_WB_OUTDOOR, 3}, {VISCA_PTZ_WB_MANUAL, 5}, {VISCA_PTZ_WB_INDOOR, 1}, {NDI_WB_AUTO, 0}};
    for (const auto& b : balance) {
        service->pushCommand({b.code, 0, 0});
        EXPECT_TRUE(waitFor([&] { return service->whiteBalanceMode() == b.mode; })) << b.code;
    }

    // Pan/tilt codes reach the motion operations with their direction and speed form.
    service->pushCommand({VISCA_PTZ_LEFT, 24, 24});
    EXPECT_TRUE(waitFor([&] { return panTarget() == left; }));
    service->pushCommand({NDI_PT_SPEED, -0.5f, 0.5f});  // right and up
    EXPECT_TRUE(waitFor([&] { return panTarget() == right && tiltTarget() == up; }));
    service->pushCommand({VISCA_PTZ_HOME, 0, 0});
    EXPECT_TRUE(waitFor([&] { return panTarget() == s.pan_center && tiltTarget() == s.tilt_center; }));
    service->setPositionTargets(s.pan_center + 2560, s.tilt_center - 2560);
    service->pushCommand({VISCA_PTZ_POSITION, 24, 24});
    EXPECT_TRUE(waitFor([&] { return panTarget() == s.pan_center + 2560 && tiltTarget() == s.tilt_center - 2560; }));

    // Settings: ramp 7 changes nothing, 2 gives 1.2; reverse flags are saved.
    service->pushCommand({VISCA_PTZ_RAMP_CURVE, 7, 0});
    service->pushCommand({VISCA_PTZ_PAN_REVERSE, 1, 0});
    EXPECT_TRUE(waitFor([&] { return configText().find("PAN_REVERSE=true\n") != std::string::npos; }));
    EXPECT_FLOAT_EQ(service->motion().max_speed_up.load(), 1.0f);
    service->pushCommand({VISCA_PTZ_RAMP_CURVE, 2, 0});
    EXPECT_TRUE(waitFor([&] { return configText().find("PtzMaxSpeedUp=1.200000\n") != std::string::npos; }));
    EXPECT_FLOAT_EQ(service->motion().max_speed_up.load(), 1.2f);
    service->pushCommand({VISCA_PTZ_LEFT, 24, 24});  // reversed: right
    EXPECT_TRUE(waitFor([&] { return panTarget() == right; }));

    // Free mode: switch stops off, limit state -2, normal drives refused from then on.
    service->pushCommand({VISCA_PTZ_FREE_STOP, 0, 0});
    EXPECT_TRUE(waitFor([&] { return service->limitState() == -2; }));
    EXPECT_EQ(camera->motion().peek(reg(Stepper::kPan, SW_MODE)), kSwitchStopsOn);
}

TEST_F(Service, PublishesLimitsAndShutsDownPromptly) {
    start();
    ASSERT_TRUE(homed());
    nlohmann::json state = camera->api().state();
    const Stepper& s = service->stepperRef();
    EXPECT_EQ(state["ptz"]["limit_state"], 1);
    EXPECT_EQ(state["ptz"]["pan_center"], s.pan_center.load());
    EXPECT_EQ(state["ptz"]["pan_right"], s.pan_right.load());
    EXPECT_EQ(state["ptz"]["tilt_up"], s.tilt_up.load());
    EXPECT_EQ(state["ptz"]["tilt_down"], s.tilt_down.load());
    for (int i = 0; i < 40; ++i) service->pushCommand({VISCA_PTZ_LEFT + i % 2, 3, 3});
    EXPECT_LT(elapsed([&] { service.reset(); }), 1s);
    EXPECT_FALSE(camera->api().state().contains("ptz"));
}
