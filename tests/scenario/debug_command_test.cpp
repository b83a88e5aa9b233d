// The engineering commands on the simulated head, degree register and zoom servo: what each
// one prints and what it leaves in the chips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "control/debug_command.h"
#include "support/stepper_rig.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;
using namespace tmc5041;

namespace {
// A memory stream for the commands' output; `take` gives what was written since the last take.
struct Output {
    ~Output() { std::fclose(file), std::free(buffer); }
    std::string take() {
        std::fflush(file);
        std::string text(buffer + taken, size - taken);
        taken = size;
        return text;
    }
    char* buffer = nullptr;
    size_t size = 0, taken = 0;
    FILE* file = open_memstream(&buffer, &size);
};

class HomedHead : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(rig.begin());
        ASSERT_TRUE(waitFor([&] { return rig.stepper->limit_state == 1; }, 40s));
        std::this_thread::sleep_for(150ms);
    }
    int32_t target(int motor) { return static_cast<int32_t>(rig.model().peek(reg(motor, XTARGET))); }
    int32_t actual(int motor) { return static_cast<int32_t>(rig.model().peek(reg(motor, XACTUAL))); }
    std::string run(unsigned code, DebugArgs args = {}) {
        output.take();
        rig.model().writes();
        debug.run(code, args);
        return output.take();
    }
    uint32_t lastSwitchMode(int motor) {
        uint32_t value = 0;
        for (const auto& w : rig.model().writes())
            if (w.reg == reg(motor, SW_MODE)) value = w.value;
        return value;
    }

    StepperRig rig;
    Output output;
    DebugCommand debug{*rig.stepper, rig.hw, output.file};
};
}  // namespace

TEST_F(HomedHead, LockPositionsAreOneDegreeInsideTheLimitsWithTheStopsArmed) {
    Stepper& s = *rig.stepper;
    const struct { unsigned code; int motor; std::function<int32_t()> expected; const char* line; } cases[] = {
        {DebugCommand::kLeft, Stepper::kPan, [&] { return s.pan_left + 8533; }, "Go to LEFT lock position\n"},
        {DebugCommand::kRight, Stepper::kPan, [&] { return s.pan_right - 8533; }, "Go to RIGHT lock position\n"},
        {DebugCommand::kUp, Stepper::kTilt, [&] { return s.tilt_up - 8533; }, "Go to UP lock position\n"},
        {DebugCommand::kDown, Stepper::kTilt, [&] { return s.tilt_down + 8533; }, "Go to DOWN lock position\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.code), c.line);
        EXPECT_EQ(target(c.motor), c.expected()) << c.line;
        EXPECT_EQ(rig.model().peek(reg(c.motor, SW_MODE)), 2223u) << c.line;
    }
    EXPECT_EQ(run(DebugCommand::kHome), "Go to HOME position\n");
    EXPECT_EQ(target(Stepper::kPan), s.pan_center.load());
    EXPECT_EQ(target(Stepper::kTilt), s.tilt_center.load());
    EXPECT_EQ(lastSwitchMode(Stepper::kPan), 2223u) << "armed again after the second";
}

TEST_F(HomedHead, DegreeMovesComputeWholeUnitsAndRefuseTargetsPastTheLimits) {
    Stepper& s = *rig.stepper;
    std::string text = run(DebugCommand::kAbsoluteDegrees, {1, 10});
    EXPECT_EQ(target(Stepper::kPan), s.pan_center + 85248);
    EXPECT_NE(text.find("175-Degree : Right(16C9) / LEFT(E937)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Go to ABSOLUTE PAN  Pos " + std::to_string(s.pan_center + 85248) + " (Degree 10 : 85248)\n"),
              std::string::npos);
    EXPECT_EQ(rig.model().peek(reg(Stepper::kPan, SW_MODE)), 2223u);

    const int32_t before = target(Stepper::kPan);
    text = run(DebugCommand::kAbsoluteDegrees, {1, 400});
    EXPECT_NE(text.find("(Degree 400 : 3412992)\nError, ABSOLUTE PAN Pos Limit Range Over!\r"), std::string::npos);
    EXPECT_EQ(target(Stepper::kPan), before);
    text = run(DebugCommand::kAbsoluteDegrees, {0, -400});
    EXPECT_NE(text.find("Error, ABSOLUTE TILT Pos Limit Range Over!\r"), std::string::npos) << text;

    ASSERT_TRUE(waitFor([&] { return rig.model().peek(reg(Stepper::kTilt, VACTUAL)) == 0; }, 10s));
    const int32_t tilt = actual(Stepper::kTilt);
    text = run(DebugCommand::kRelativeDegrees, {0, -2});
    EXPECT_EQ(target(Stepper::kTilt), tilt - 17152);
    EXPECT_NE(text.find("Go to RELATIVE TILT Pos " + std::to_string(tilt - 17152) + " (Degree -2 : -17152)\n"),
              std::string::npos);
    const int64_t pan = actual(Stepper::kPan);
    run(DebugCommand::kRelativeDegrees, {1, INT32_MAX});  // saturates instead of overflowing
    EXPECT_EQ(target(Stepper::kPan), std::min<int64_t>(pan + (INT32_MAX & ~0xFF), INT32_MAX));
    run(DebugCommand::kStop);
}

TEST_F(HomedHead, SwitchModesDegreeRegisterAndReadOuts) {
    const struct { unsigned code; uint32_t degree; const char* line; } degrees[] = {
        {DebugCommand::kDegreeCentre, 1, "DEGREE Center\n"}, {DebugCommand::kDegree90, 2, "DEGREE 90\n"},
        {DebugCommand::kDegree150, 4, "DEGREE 150\n"}, {DebugCommand::kDegree350, 0, "DEGREE 350\n"}};
    for (const auto& d : degrees) {
        EXPECT_EQ(run(d.code), d.line);
        EXPECT_EQ(rig.camera->fpga().peek(1026), d.degree) << d.line;
    }
    EXPECT_EQ(run(DebugCommand::kSwitchesOff), "SWMODE All Disable\n");
    EXPECT_EQ(rig.model().peek(reg(Stepper::kPan, SW_MODE)), 2220u);
    EXPECT_EQ(rig.model().peek(reg(Stepper::kTilt, SW_MODE)), 2220u);
    EXPECT_EQ(run(DebugCommand::kSwitchesOn), "SWMODE All Enable\n");
    EXPECT_EQ(rig.model().peek(reg(Stepper::kTilt, SW_MODE)), 2223u);

    const std::string tilt = std::to_string(actual(Stepper::kTilt)), pan = std::to_string(actual(Stepper::kPan));
    EXPECT_EQ(run(DebugCommand::kPositions), "TILT TMCR_XACTUAL " + tilt + "\nPAN  TMCR_XACTUAL " + pan + "\n");
    EXPECT_EQ(run(99), "#0 TMCR_XACTUAL " + tilt + "\n#1 TMCR_XACTUAL " + pan + "\n");
    EXPECT_EQ(run(DebugCommand::kRampStatus).rfind("TILT RAMP_STATUS 0x", 0), 0u);
    EXPECT_EQ(run(DebugCommand::kTiltBy, {-4000}), "TILT Move By -4000 position\n");
    EXPECT_EQ(target(Stepper::kTilt), std::stoi(tilt) - 4000);
    EXPECT_EQ(rig.model().peek(reg(Stepper::kTilt, SW_MODE)), 2220u);
    EXPECT_EQ(run(DebugCommand::kStop), "\n\n##MOTOR STOP\n");
}

TEST(DebugServo, RegisterWritesInSignMagnitudeAndTheReadOut) {
    auto settings = StepperRig::fastSettings();
    settings.servo.present = true;
    StepperRig rig(settings);
    ASSERT_TRUE(rig.begin());
    ASSERT_TRUE(waitFor([&] { return rig.stepper->zoom().zoom_ready.load() == 1; }, 40s));
    Output output;
    DebugCommand debug(*rig.stepper, rig.hw, output.file);
    sim::SmsStsServo& servo = *rig.camera->servo();

    debug.run(DebugCommand::kServoWrite, {31, -100});
    EXPECT_EQ(output.take(), "ZoomServo addr : 31, var -100\n");
    EXPECT_EQ(servo.peek(31) | servo.peek(32) << 8, 0x864);
    const int minAngle = servo.peek(9) | servo.peek(10) << 8;
    debug.run(DebugCommand::kServoWrite, {9, -5});  // two bytes, sign at bit 15
    EXPECT_EQ(servo.peek(9) | servo.peek(10) << 8, 0x8005);
    debug.run(DebugCommand::kServoWrite, {9, minAngle});
    debug.run(DebugCommand::kServoWrite, {41, 300});  // one byte
    EXPECT_EQ(servo.peek(41), 300 & 0xFF);
    const uint8_t unlisted = servo.peek(5);
    debug.run(DebugCommand::kServoWrite, {5, unlisted ^ 0x55});  // not a writable register: ignored
    EXPECT_EQ(servo.peek(5), unlisted);
    output.take();

    debug.run(DebugCommand::kServoRead, {1, 41});
    const std::string text = output.take();
    EXPECT_EQ(text.rfind("ZoomServo Read addr : 41, var 44\nPosOffset = -100 targetPos = ", 0), 0u) << text;
    EXPECT_NE(text.find(" Move = "), std::string::npos);
}
