// Pan/tilt motion operations against the TMC5041 model: reverse flags, speed forms, the gate,
// free mode and the absolute clamp, seen as the register writes that reach the chip.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "motion/ptz_motion.h"
#include "support/log_capture.h"
#include "support/stepper_rig.h"

using namespace tmc5041;

namespace {
constexpr int kTilt = Stepper::kTilt;
constexpr int kPan = Stepper::kPan;

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
        s.tilt_up = 500000;
        s.tilt_down = 1;
        s.pan_left = 1;
        s.pan_right = 600000;
        s.tilt_center = 300000;
        s.pan_center = 280000;
        s.limit_state = state;
    }
    // The last value written to a register since the previous call, or -1.
    std::map<uint8_t, int64_t> written() {
        std::map<uint8_t, int64_t> last;
        for (const auto& w : rig.model().writes()) last[w.reg] = w.value;
        return last;
    }
    // Where the chip's ramp generator is heading.
    int64_t target(int motor) { return static_cast<int32_t>(rig.model().peek(reg(motor, XTARGET))); }
    // Whether any register of the motor was written.
    static bool moved(const std::map<uint8_t, int64_t>& m, int motor) {
        for (const auto& [r, v] : m)
            if ((r & 0xE0) == base(motor)) return true;
        return false;
    }
    static int64_t at(const std::map<uint8_t, int64_t>& m, uint8_t reg) {
        const auto found = m.find(reg);
        return found == m.end() ? -1 : found->second;
    }
    // The axes driven to their targets at their speed indices; -1: the axis is not moved.
    void expectDriven(int64_t tiltTarget, int64_t panTarget, int64_t tiltIndex, int64_t panIndex) {
        const auto w = written();
        EXPECT_EQ(moved(w, kTilt), tiltTarget >= 0);
        EXPECT_EQ(moved(w, kPan), panTarget >= 0);
        if (tiltTarget >= 0) { EXPECT_EQ(target(kTilt), tiltTarget); }
        if (panTarget >= 0) { EXPECT_EQ(target(kPan), panTarget); }
        if (tiltIndex >= 0) { EXPECT_EQ(at(w, reg(kTilt, VMAX)), rig.stepper->speedFromIndex(kTilt, int(tiltIndex))); }
        if (panIndex >= 0) { EXPECT_EQ(at(w, reg(kPan, VMAX)), rig.stepper->speedFromIndex(kPan, int(panIndex))); }
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

// One degree inside each limit set by the fixture.
constexpr int64_t kUp = 500000 - 8533, kDown = 1 + 8533, kLeft = 1 + 8533, kRight = 600000 - 8533;
}  // namespace

TEST_F(Motion, DirectionsAndReverseFlagsPickTargetsOneDegreeInside) {
    const int64_t up = kUp, down = kDown, left = kLeft, right = kRight;
    const struct {
        int direction;
        bool panReverse, tiltReverse;
        int64_t tiltTarget, panTarget;  // -1: the axis is not moved
    } cases[] = {
        {1, false, false, up, -1},    {2, false, false, down, -1}, {3, false, false, -1, left},
        {4, false, false, -1, right}, {5, false, false, up, left}, {8, false, false, down, right},
        {5, true, false, up, right},  {5, true, true, down, right}, {6, false, true, down, right},
        {7, true, true, up, right},   {1, true, false, up, -1},    {3, false, true, -1, left},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "direction " << c.direction << " reverse " << c.panReverse << c.tiltReverse);
        motion.pan_reverse = c.panReverse;
        motion.tilt_reverse = c.tiltReverse;
        EXPECT_EQ(motion.panTiltDrive(c.direction, 10, 11, 0), 0);
        expectDriven(c.tiltTarget, c.panTarget, c.tiltTarget >= 0 ? 11 : -1, c.panTarget >= 0 ? 10 : -1);
    }
}

TEST_F(Motion, TiltIsCommandedBeforePanAndLastCommandFollowsTilt) {
    motion.panTiltDrive(PtzMotion::kDownLeft, 5, 5, 0);
    const auto writes = rig.model().writes();
    size_t firstTilt = writes.size(), firstPan = writes.size();
    for (size_t i = 0; i < writes.size(); ++i) {
        if ((writes[i].reg & 0xE0) == 0x20 && firstTilt == writes.size()) firstTilt = i;
        if ((writes[i].reg & 0xE0) == 0x40 && firstPan == writes.size()) firstPan = i;
    }
    EXPECT_LT(firstTilt, firstPan);
    EXPECT_EQ(rig.stepper->last_cmd.load(), 2);
    motion.panTiltDrive(PtzMotion::kRight, 5, 5, 0);
    EXPECT_EQ(rig.stepper->last_cmd.load(), 2);
}

TEST_F(Motion, UnhomedLimitRunsInVelocityModeAndTheGateRefusesBeforeHomingOnlyWithLimitChecking) {
    rig.stepper->pan_left = 0;
    rig.stepper->tilt_up = 0;
    motion.panTiltDrive(PtzMotion::kUpLeft, 4, 6, 0);
    const auto w = written();
    EXPECT_EQ(at(w, reg(kTilt, RAMPMODE)), 1);  // positive velocity
    EXPECT_EQ(at(w, reg(kPan, RAMPMODE)), 2);   // negative velocity
    EXPECT_EQ(at(w, reg(kPan, VMAX)), rig.stepper->speedFromIndex(kPan, 4));
    EXPECT_NE(target(kPan), kLeft);

    // The gate refuses before homing, only with limit checking.
    setLimits(-1);
    EXPECT_EQ(motion.panTiltMove(0, 1, PtzMotion::kLeft, 10, 10), -1);
    EXPECT_TRUE(written().empty());
    rig.stepper->limit_check = 0;
    EXPECT_EQ(motion.panTiltMove(0, 1, PtzMotion::kLeft, 10, 10), 0);
    EXPECT_TRUE(moved(written(), kPan));
    EXPECT_EQ(target(kPan), kLeft);
    setLimits(0);  // fixed limits pass the gate
    rig.stepper->limit_check = 1;
    EXPECT_EQ(motion.panTiltMove(0, 1, PtzMotion::kRight, 10, 10), 0);
}

TEST_F(Motion, FreeModeDropsSwitchStopsUntilStopAndUsesFixedTargets) {
    setLimits(-1);
    EXPECT_EQ(motion.panTiltMove(1, 1, PtzMotion::kUpRight, 3, 3), 0);
    EXPECT_EQ(rig.stepper->limit_state.load(), -2);
    EXPECT_EQ(rig.stepper->saved_limit_state.load(), -2);
    auto w = written();
    EXPECT_EQ(at(w, reg(kPan, SW_MODE)), kSwitchStopsOff);
    EXPECT_EQ(at(w, reg(kTilt, SW_MODE)), kSwitchStopsOff);
    EXPECT_EQ(target(kTilt), 500000);
    EXPECT_EQ(target(kPan), 4000000);
    EXPECT_EQ(at(w, reg(kTilt, VMAX)), 25000);
    EXPECT_EQ(at(w, reg(kPan, VMAX)), rig.stepper->speedFromIndex(kPan, 20));
    // Normal commands stay refused while free mode lasts.
    EXPECT_EQ(motion.panTiltMove(0, 1, PtzMotion::kLeft, 3, 3), -1);
    EXPECT_EQ(motion.panTiltMove(1, 1, PtzMotion::kStop, 0, 0), 0);
    w = written();
    EXPECT_EQ(at(w, reg(kPan, SW_MODE)), kSwitchStopsOn);
    EXPECT_EQ(at(w, reg(kTilt, VMAX)), 0);
}

TEST_F(Motion, SpeedFormsGiveDirectionAndIndices) {
    const int64_t up = kUp, down = kDown, left = kLeft, right = kRight;
    const struct {
        int direct, direction;
        float pan, tilt;
        int64_t tiltVmaxIndex, panVmaxIndex;  // -1: axis untouched
        int64_t tiltTarget, panTarget;
    } cases[] = {
        {0, 9, 0.5f, -0.5f, 11, 12, down, left},   // down-left: t truncates -11.5 to -11
        {0, 9, 0.0f, 1.0f, 23, -1, up, -1},        // tilt scales by 23
        {0, 9, -1.0f, 0.0f, -1, 24, -1, right},    // negative pan is right
        {0, 9, 0.2f, 3.0f, 24, 4, up, left},       // a tilt beyond 24 runs at 24
        {1, 4, -30.0f, 7.9f, -1, 24, -1, right},   // direct: |pan| clamped to 24
        {1, 1, 0.0f, -30.0f, 24, -1, up, -1},      // direct: tilt out of range runs at 24
        {1, 2, 0.0f, -7.9f, 7, -1, down, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "pan " << c.pan << " tilt " << c.tilt);
        EXPECT_EQ(motion.panTiltMove(0, c.direct, c.direction, c.pan, c.tilt), 0);
        expectDriven(c.tiltTarget, c.panTarget, c.tiltVmaxIndex, c.panVmaxIndex);
    }
    // Both zero is a stop; NaN counts as zero.
    EXPECT_EQ(motion.panTiltMove(0, 0, 3, std::nanf(""), 0.0f), 0);
    EXPECT_EQ(at(written(), reg(kPan, VMAX)), 0);
}

TEST_F(Motion, AbsoluteTargetsWithin255BeyondTheDriveTargetsArePulledBack) {
    const int32_t up = kUp, down = kDown, left = kLeft, right = kRight;
    const struct { int32_t tilt, pan, tiltGoal, panGoal; } cases[] = {
        {up + 100, right + 1, up, right},    {up + 256, right + 256, up + 256, right + 256},
        {down - 255, left - 255, down, left}, {down - 256, left - 300, down - 256, left - 300},
        {300000, 280000, 300000, 280000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tilt << " " << c.pan);
        rig.stepper->tilt_target = c.tilt;
        rig.stepper->pan_target = c.pan;
        EXPECT_EQ(motion.panTiltDrive(PtzMotion::kAbsolute, 7, 8, 0), 0);
        const auto w = written();
        EXPECT_EQ(target(kTilt), c.tiltGoal);
        EXPECT_EQ(target(kPan), c.panGoal);
        EXPECT_EQ(at(w, reg(kTilt, VMAX)), rig.stepper->speedFromIndex(kTilt, 8));
    }
    EXPECT_EQ(rig.stepper->last_cmd.load(), 10);
    const auto n = [](int32_t v) { return std::to_string(v); };
    const std::tuple<int32_t, int32_t, std::string, std::string> logged[] = {
        {up + 1, left - 1, "#abs_tilt_pos " + n(up + 1) + " > up_limit " + n(up) + "\r\n",
         "#abs_pan_pos  " + n(left - 1) + " < left_limit " + n(left) + "\r\n"},
        {down - 1, right + 1, "#abs_tilt_pos " + n(down - 1) + " < down_limit " + n(down) + "\r\n",
         "#abs_pan_pos  " + n(right + 1) + " > right_limit " + n(right) + "\r\n"},
        {down, right,
         "#abs_tilt_pos " + n(down) + " <= up_limit " + n(up) + ", abs_tilt_pos " + n(down) + " >= down_limit " +
             n(down) + "\r\n",
         "#abs_pan_pos  " + n(right) + " <= right_limit " + n(right) + ", abs_pan_pos  " + n(right) +
             " >= left_limit " + n(left) + "\r\n"}};
    for (const auto& [tilt, pan, tiltLine, panLine] : logged) {
        LogCapture log(5);
        rig.stepper->tilt_target = tilt;
        rig.stepper->pan_target = pan;
        motion.panTiltDrive(PtzMotion::kAbsolute, 7, 8, 0);
        const std::string text = log.text();
        EXPECT_LT(text.find(tiltLine), text.find(panLine)) << text;
        EXPECT_NE(text.find(panLine), std::string::npos) << text;
    }
    written();
    setLimits(0);  // not homed: nothing moves, but the command is remembered
    rig.stepper->last_cmd = 0;
    motion.panTiltDrive(PtzMotion::kAbsolute, 7, 8, 0);
    EXPECT_FALSE(moved(written(), kPan));
    EXPECT_EQ(rig.stepper->last_cmd.load(), 10);
}

TEST_F(Motion, HomeMovesOnlyWhenHomedAndEndsTheQcRun) {
    motion.qc_mode = 1;
    setLimits(0);
    EXPECT_EQ(motion.panTiltDrive(PtzMotion::kHome, 0, 0, 0), 0);
    EXPECT_EQ(motion.qc_mode.load(), 0);
    EXPECT_FALSE(moved(written(), kPan));
    setLimits(1);
    motion.panTiltDrive(PtzMotion::kHome, 0, 0, 0);
    const auto w = written();
    EXPECT_EQ(target(kTilt), 300000);
    EXPECT_EQ(target(kPan), 280000);
    EXPECT_EQ(at(w, reg(kPan, VMAX)), rig.stepper->speedFromIndex(kPan, 24));
    EXPECT_EQ(motion.panTiltDrive(42, 0, 0, 0), -1);
}

TEST(MotionSettings, ConfigWriteRewritesOneKeyAndSurvivesAnUnwritableFile) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "ptzmotion.XXXXXX").string();
    const std::string dir = mkdtemp(pattern.data());
    const std::string path = dir + "/config.cfg";
    PtzMotion motion(nullptr, path);
    motion.pan_reverse = 1;
    motion.max_speed_up = 1.5f;
    motion.configWrite(0x200E);
    motion.configWrite(0x2010);
    motion.configWrite(0x200F);
    std::ifstream in(path);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    EXPECT_NE(text.find("PAN_REVERSE=true\n"), std::string::npos) << text;
    EXPECT_NE(text.find("TILT_REVERSE=false\n"), std::string::npos) << text;
    EXPECT_NE(text.find("PtzMaxSpeedUp=1.500000\n"), std::string::npos) << text;
    fs::remove_all(dir);
    // The directory is gone and cannot be made (its parent is a file): logged, not thrown.
    std::ofstream(dir) << "x";
    PtzMotion lost(nullptr, dir + "/sub/config.cfg");
    EXPECT_NO_THROW(lost.configWrite(0x200E));
    fs::remove(dir);
}
