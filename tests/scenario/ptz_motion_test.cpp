// Pan/tilt motion operations against the TMC5041 model: speed forms, the gate and the absolute
// clamp, seen as the register writes that reach the chip.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "motion/ptz_motion.h"
#include "support/stepper_rig.h"

using namespace tmc5041;

namespace {
constexpr int kTilt = Stepper::kTilt, kPan = Stepper::kPan;
// One degree inside each limit set by the fixture.
constexpr int32_t kUp = 500000 - 8533, kDown = 1 + 8533, kLeft = 1 + 8533, kRight = 600000 - 8533;

// A Stepper with its SPI link open but no homing: the limits are what each test sets.
class Motion : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(rig.stepper->open("/dev/spidev32766.0"));
        setLimits(1);
        rig.model().writes();
    }
    void setLimits(int state) {
        Stepper& s = *rig.stepper;
        s.tilt_up = 500000, s.tilt_down = 1, s.pan_left = 1, s.pan_right = 600000;
        s.tilt_center = 300000, s.pan_center = 280000, s.limit_state = state;
    }
    // The last value written to each register since the previous call.
    std::map<uint8_t, int64_t> written() {
        std::map<uint8_t, int64_t> last;
        for (const auto& w : rig.model().writes()) last[w.reg] = w.value;
        return last;
    }
    int64_t target(int motor) { return static_cast<int32_t>(rig.model().peek(reg(motor, XTARGET))); }
    int64_t speed(int motor, int index) { return index < 0 ? -1 : int64_t{rig.stepper->speedFromIndex(motor, index)}; }
    // Targets and VMAX of both axes; -1 for an axis not written.
    std::vector<int64_t> driven() {
        const auto w = written();
        std::vector<int64_t> seen;
        for (int motor : {kTilt, kPan}) {
            const bool moved = std::any_of(w.begin(), w.end(), [&](const auto& rv) { return (rv.first & 0xE0) == base(motor); });
            seen.push_back(moved ? target(motor) : -1);
            seen.push_back(w.count(reg(motor, VMAX)) ? w.at(reg(motor, VMAX)) : -1);
        }
        return seen;
    }
    static sim::SimSettings settings() {
        sim::SimSettings s = StepperRig::fastSettings();
        s.input = "none";  // no pictures to make: only the head matters here
#ifdef __SANITIZE_THREAD__
        s.motionSpeed = 1;  // the head model's catch-up costs too much host time there
#endif
        return s;
    }

    StepperRig rig{settings()};
    PtzMotion motion{std::shared_ptr<Stepper>(rig.stepper.get(), [](Stepper*) {}), "/nonexistent-dir/x/config.cfg"};
};
}  // namespace

// The end-to-end suites drive each direction, reversed too; here the speed forms, and tilt first.
TEST_F(Motion, SpeedFormsGiveDirectionAndIndicesOneDegreeInside) {
    motion.panTiltDrive(PtzMotion::kDownLeft, 5, 5, 0);
    const auto w = rig.model().writes();
    EXPECT_LT(std::find_if(w.begin(), w.end(), [](const auto& x) { return (x.reg & 0xE0) == base(kTilt); }),
              std::find_if(w.begin(), w.end(), [](const auto& x) { return (x.reg & 0xE0) == base(kPan); }));
    EXPECT_EQ(rig.stepper->last_cmd.load(), 2);
    const struct { int direct, direction; float pan, tilt; int64_t tilt_, tiltIndex, pan_, panIndex; } forms[] = {
        {0, 9, 0.5f, -0.5f, kDown, 11, kLeft, 12},  // down-left: t truncates -11.5 to -11
        {0, 9, 0.0f, 1.0f, kUp, 23, -1, -1},        // tilt scales by 23
        {0, 9, -1.0f, 0.0f, -1, -1, kRight, 24},    // negative pan is right
        {0, 9, 0.2f, 3.0f, kUp, 24, kLeft, 4},      // a tilt beyond 24 runs at 24
        {1, 4, -30.0f, 7.9f, -1, -1, kRight, 24},   // direct: |pan| clamped to 24
        {1, 1, 0.0f, -30.0f, kUp, 24, -1, -1},      // direct: tilt out of range runs at 24
        {1, 2, 0.0f, -7.9f, kDown, 7, -1, -1},
    };
    for (const auto& c : forms) {
        EXPECT_EQ(motion.panTiltMove(0, c.direct, c.direction, c.pan, c.tilt), 0);
        EXPECT_EQ(driven(), (std::vector<int64_t>{c.tilt_, speed(kTilt, int(c.tiltIndex)), c.pan_,
                                                  speed(kPan, int(c.panIndex))}))
            << "pan " << c.pan << " tilt " << c.tilt;
    }
    // Both zero is a stop; NaN counts as zero.
    EXPECT_EQ(motion.panTiltMove(0, 0, 3, std::nanf(""), 0.0f), 0);
    EXPECT_EQ(written().at(reg(kPan, VMAX)), 0);
    EXPECT_EQ(motion.panTiltDrive(42, 0, 0, 0), -1);
}

TEST_F(Motion, UnhomedLimitsRunInVelocityModeTheGateRefusesBeforeHomingAndFreeModeDropsTheStops) {
    rig.stepper->pan_left = 0;  // an axis without its limit runs in velocity mode
    rig.stepper->tilt_up = 0;
    motion.panTiltDrive(PtzMotion::kUpLeft, 4, 6, 0);
    auto w = written();
    EXPECT_EQ((std::tuple{w.at(reg(kTilt, RAMPMODE)), w.at(reg(kPan, RAMPMODE)), w.at(reg(kPan, VMAX))}),
              (std::tuple{1, 2, speed(kPan, 4)}));
    // The gate refuses before homing, only with limit checking; fixed limits pass it.
    setLimits(-1);
    EXPECT_EQ(motion.panTiltMove(0, 1, PtzMotion::kLeft, 10, 10), -1);
    EXPECT_TRUE(written().empty());
    rig.stepper->limit_check = 0;
    EXPECT_EQ(motion.panTiltMove(0, 1, PtzMotion::kLeft, 10, 10), 0);
    EXPECT_EQ(target(kPan), kLeft);
    setLimits(0);
    rig.stepper->limit_check = 1;
    EXPECT_EQ(motion.panTiltMove(0, 1, PtzMotion::kRight, 10, 10), 0);
    // Free mode: switch stops off, fixed targets, normal commands refused until its stop.
    setLimits(-1);
    EXPECT_EQ(motion.panTiltMove(1, 1, PtzMotion::kUpRight, 3, 3), 0);
    EXPECT_EQ((std::pair{rig.stepper->limit_state.load(), rig.stepper->saved_limit_state.load()}), (std::pair{-2, -2}));
    w = written();
    EXPECT_EQ((std::tuple{w.at(reg(kPan, SW_MODE)), w.at(reg(kTilt, SW_MODE)), target(kTilt), target(kPan),
                          w.at(reg(kTilt, VMAX)), w.at(reg(kPan, VMAX))}),
              (std::tuple{kSwitchStopsOff, kSwitchStopsOff, 500000, 4000000, 25000, speed(kPan, 20)}));
    EXPECT_EQ(motion.panTiltMove(0, 1, PtzMotion::kLeft, 3, 3), -1);
}

TEST_F(Motion, AbsoluteTargetsWithin255BeyondTheDriveTargetsArePulledBack) {
    const struct { int32_t tilt, pan, tiltGoal, panGoal; } cases[] = {
        {kUp + 100, kRight + 1, kUp, kRight},     {kUp + 256, kRight + 256, kUp + 256, kRight + 256},
        {kDown - 255, kLeft - 255, kDown, kLeft}, {kDown - 256, kLeft - 300, kDown - 256, kLeft - 300},
        {kUp + 255, kRight + 255, kUp, kRight},
    };
    for (const auto& c : cases) {
        rig.stepper->tilt_target = c.tilt;
        rig.stepper->pan_target = c.pan;
        EXPECT_EQ(motion.panTiltDrive(PtzMotion::kAbsolute, 7, 8, 0), 0);
        EXPECT_EQ(driven(), (std::vector<int64_t>{c.tiltGoal, speed(kTilt, 8), c.panGoal, speed(kPan, 7)}))
            << c.tilt << " " << c.pan;
    }
    EXPECT_EQ(rig.stepper->last_cmd.load(), 10);
    written();
    setLimits(0);  // not homed: nothing moves, but the command is remembered
    rig.stepper->last_cmd = 0;
    motion.panTiltDrive(PtzMotion::kAbsolute, 7, 8, 0);
    EXPECT_TRUE(written().empty());
    EXPECT_EQ(rig.stepper->last_cmd.load(), 10);
}

TEST(MotionSettings, AConfigWriteToAnUnmakeableDirectoryIsLoggedNotThrown) {
    const std::string file = (std::filesystem::temp_directory_path() / ("ptzmotion-" + std::to_string(getpid()))).string();
    std::ofstream(file) << "x";  // the parent of the config directory is a file
    PtzMotion lost(nullptr, file + "/sub/config.cfg");
    EXPECT_NO_THROW(lost.configWrite(0x200E));
    std::filesystem::remove(file);
}
