// The motion stack against the simulated head: homing with both tilt wirings, starts on a switch
// and broken switches; the primitives, the control thread's escapes and idle current; the
// engineering commands; faults and shutdown; the pan/tilt operations' speed
// forms, gate and absolute clamp as the register writes that reach the chip.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <tuple>

#include "control/debug_command.h"
#include "control/tally_relay.h"
#include "motion/ptz_motion.h"
#include "platform/signal_watcher.h"
#include "status/tally_lamp.h"
#include "support/fake_visca_target.h"
#include "support/log_capture.h"
#include "support/scenario_elapsed.h"
#include "support/scratch_file.h"
#include "support/stepper_rig.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;
using namespace tmc5041;

namespace {
using Writes = std::vector<sim::Tmc5041Model::Write>;
size_t countWrites(const Writes& writes, uint8_t reg, int64_t value = -1) {
    return static_cast<size_t>(std::count_if(writes.begin(), writes.end(), [&](const auto& w) {
        return w.reg == reg && (value < 0 || w.value == uint32_t(value));
    }));
}
size_t firstWrite(const Writes& writes, uint8_t reg, uint32_t value) {
    return static_cast<size_t>(
        std::find_if(writes.begin(), writes.end(), [&](const auto& w) { return w.reg == reg && w.value == value; }) -
        writes.begin());
}
std::vector<uint32_t> valuesOf(const Writes& writes, uint8_t reg) {
    std::vector<uint32_t> values;
    for (const auto& w : writes)
        if (w.reg == reg) values.push_back(w.value);
    return values;
}
bool homed(StepperRig& rig) { return rig.begin() && waitFor([&] { return rig.stepper->limit_state == 1; }, 40s); }

struct HomingCase {
    const char* name;
    int32_t panLeft, panRight, tiltUp;
    bool oldWiring;
    const char* expectedLines;  // lines the start-up must print, in order
};

class Homing : public testing::TestWithParam<HomingCase> {};

TEST_P(Homing, FindsTheSwitchesAndParksTheHeadOffThem) {
    const HomingCase& c = GetParam();
    sim::SimSettings settings = StepperRig::fastSettings();
    settings.head.panLeft = c.panLeft;
    settings.head.panRight = c.panRight;
    settings.head.tiltUp = c.tiltUp;
    settings.head.oldTiltWiring = c.oldWiring;
    StepperRig rig(settings);
    ASSERT_TRUE(rig.begin());
    // The wiring decides whether the tilt is parked at its home with its switch stops off.
    bool parkedWithStopsOff = false;
    ASSERT_TRUE(waitFor([&] {
        parkedWithStopsOff |= rig.model().peek(0x2D) == 314421u && rig.model().peek(0x34) == 0x8ACu;
        return rig.stepper->limit_state == 1;
    }, 40s, 1ms));
    EXPECT_EQ(parkedWithStopsOff, c.oldWiring);
    auto& s = *rig.stepper;
    EXPECT_EQ((std::tuple{s.pan_left.load(), s.tilt_up.load(), s.tilt_down.load(), s.tilt_center.load()}),
              (std::tuple{1, 493614, 1, 314421}));
    EXPECT_EQ(s.pan_center, (s.pan_right + s.pan_left - 53126) / 2);
    // Parked on the homes found, the inputs clear, the switch stops back on.
    ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x41) == uint32_t(s.pan_center.load()); }, 10s));
    ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x21) == 314421u; }, 10s));
    for (int axis : {0, 1})
        EXPECT_FALSE(rig.model().switches(axis).left || rig.model().switches(axis).right) << axis;
    EXPECT_EQ((std::pair{rig.model().peek(0x34), rig.model().peek(0x54)}), (std::pair{0x8AFu, 0x8AFu}));
    // The tilt home sits 179193 below the switch edge, give or take the soft-stop overshoot.
    EXPECT_NEAR(c.tiltUp - rig.model().microsteps(0), 179193, 6000);
    // The pan right limit is the latched edge of the right switch, counted from the left stop:
    // within one velocity update at homing speed (143000 / 32768 microsteps) and the rounding.
    EXPECT_NEAR(rig.model().microsteps(1) - s.pan_center + s.pan_right, c.panRight, 6.0);
    const std::string out = rig.output(), lines = c.expectedLines;
    for (size_t start = 0, end, at = 0; start < lines.size() && at != std::string::npos; start = end + 1) {
        end = lines.find('\n', start);
        at = out.find(lines.substr(start, end - start), at);
        EXPECT_NE(at, std::string::npos) << "missing or out of order: " << lines.substr(start, end - start) << "\n" << out;
    }
    if (!c.oldWiring || c.tiltUp == 0) return;
    // The older wiring drives both inputs: past the top, the tilt is backed off with the stops off.
    std::this_thread::sleep_for(150ms);
    rig.model().writes();
    s.moveAbsolute(0, 700000, 59000);
    ASSERT_TRUE(waitFor([&] { return rig.output().find("ERR, GOTO UP RIGHT SAFE AREA ( ") != std::string::npos; }, 10s));
    ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x34) == 0x8AF; }, 10s));
    EXPECT_TRUE(waitFor([&] { return s.limit_state == 1 && !rig.model().switches(0).right; }, 5s));
    const auto w = rig.model().writes();
    EXPECT_EQ(countWrites(w, 0x2D, 493614 - 30000), 1u);  // tilt XTARGET
    EXPECT_EQ(valuesOf(w, 0x34), (std::vector<uint32_t>{0x8AC, 0x8AF}));
}

const HomingCase kCases[] = {
    {"NewWiring", -250000, 350000, 200000, false,
     "MultiPort Mode Enable (LANC Disable).\nwait! New kOVA H/W 0x422\nLeft_SwitchLimit 1, Right_SwitchLimit 493614, "
     "center 314421\nSuccessfully initialized\n"},
    {"OldWiring", -250000, 350000, 200000, true,
     "wait! Old kOVA H/W\nLeft_SwitchLimit 1, Right_SwitchLimit 493614, center 314421\nSuccessfully initialized\n"},
    {"PanStartsOnLeftSwitch", 0, 600000, 200000, false,
     "LIMIT STATUS TILT: \nLIMIT STATUS PAN : \n5#1 TMCR_XACTUAL 0\n6#1 TMCR_XACTUAL 30000\n"
     "Successfully initialized\n"},
    {"TiltStartsOnSwitchOldWiring", -250000, 350000, 0, true,
     "LIMIT STATUS TILT: \nLIMIT STATUS PAN : \n\n#2 Tilt is limit exit!!\nwait! Old kOVA H/W\nSuccessfully initialized\n"},
    {"BothStartOnSwitchesNewWiring", -500000, 0, 0, false,
     "LIMIT STATUS TILT: \nLIMIT STATUS PAN : \n1#0 TMCR_XACTUAL 0\n1#1 TMCR_XACTUAL 0\n2#1 TMCR_XACTUAL -30000\n2#0 TMCR_XACTUAL -30000\n"
     "Successfully initialized\n"},
};
INSTANTIATE_TEST_SUITE_P(Head, Homing, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<HomingCase>& i) { return std::string(i.param.name); });
}  // namespace

// A switch that never closes ends its axis's search at the search's end, not against the hard end
// for ever: the axis gets fixed limits around where it stands, the stops stay armed, the other homes.
TEST(HomingBrokenSwitch, EndsTheSearchWithFixedLimitsAroundTheHead) {
    using Broken = sim::HeadGeometry::Broken;
    const struct { Broken broken; const char* message; } cases[] = {{Broken::panLeft, "Pan homing: no left switch"},
        {Broken::panRight, "Pan homing: no right switch"}, {Broken::tilt, "Tilt homing: no switch"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        sim::SimSettings settings = StepperRig::fastSettings();
        settings.head.broken = c.broken;
        LogCapture log(2);
        StepperRig rig(settings);
        ASSERT_TRUE(rig.begin());
        ASSERT_TRUE(waitFor([&] { return rig.stepper->limit_state == 0; }, 40s));
        EXPECT_NE(log.text().find(c.message), std::string::npos) << log.text();
        auto& s = *rig.stepper;
        const bool panBroken = c.broken != Broken::tilt;
        for (const auto& [axis, low, high] : {std::tuple{1, s.pan_left.load(), s.pan_right.load()},
                                             std::tuple{0, s.tilt_down.load(), s.tilt_up.load()}}) {
            const auto position = static_cast<int32_t>(rig.model().peek(axis == 1 ? 0x41 : 0x21));
            EXPECT_LE(low, position) << axis;
            EXPECT_GE(high, position) << axis;
            EXPECT_LT(low, high) << axis;
            EXPECT_EQ(rig.model().peek(axis == 1 ? 0x54 : 0x34) & 3u, 3u) << "stops disarmed on " << axis;
        }
        // The working axis homed as usual.
        EXPECT_EQ(panBroken ? s.tilt_down.load() : s.pan_left.load(), 1);
        EXPECT_EQ(rig.output().find("Successfully initialized"), std::string::npos);
    }
}

// One homed head with its zoom servo for the primitives, the escapes and the engineering commands.
class HomedHead : public testing::Test {
protected:
    static void SetUpTestSuite() {
        log = std::make_unique<LogCapture>(5);  // before the head's threads log
        sim::SimSettings settings = StepperRig::fastSettings();
        settings.servo.present = true;
        rig = std::make_unique<StepperRig>(settings);
        homed(*rig);
    }
    static void TearDownTestSuite() {
        rig.reset();
        log.reset();
    }
    void SetUp() override {
        ASSERT_EQ(rig->stepper->limit_state, 1);
        ASSERT_TRUE(waitFor([] { return rig->model().peek(0x22) == 0 && rig->model().peek(0x42) == 0; }, 10s));
        std::this_thread::sleep_for(150ms);  // the control thread takes over
        rig->model().writes();
    }
    static inline std::unique_ptr<StepperRig> rig;
    static inline std::unique_ptr<LogCapture> log;
};

TEST_F(HomedHead, PrimitivesIdleCurrentAndSwitchEscapes) {
    StepperRig& rig = *HomedHead::rig;
    Stepper& s = *rig.stepper;
    const size_t from = log->text().size();
    s.stop(1);
    rig.model().writes();
    s.moveAbsolute(1, 100000, 20000);
    auto w = rig.model().writes();
    // V1 back after the stop; the pan leaves the tilt current alone.
    EXPECT_EQ((std::vector<size_t>{countWrites(w, 0x45, 1000), countWrites(w, 0x46, 3000), countWrites(w, 0x4D, 100000),
                                   countWrites(w, 0x30)}), (std::vector<size_t>{1, 1, 1, 0}));
    s.moveAbsolute(1, 100000, 20000);  // the target only on change
    w = rig.model().writes();
    EXPECT_EQ(countWrites(w, 0x4D) + countWrites(w, 0x45), 0u);
    ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x41) == 100000u; }, 10s));
    s.moveRelative(0, -2000, 59000);
    EXPECT_EQ(countWrites(rig.model().writes(), 0x30, Stepper::kTiltCurrentMoving), 1u);
    EXPECT_EQ(s.moveAbsolute(2, 0, 1), Stepper::kBadMotor);
    EXPECT_EQ(s.rotate(-1, 1), Stepper::kBadMotor);
    // 25 passes of 100 ms after the last event; at most one more for the position-reached event.
    ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x22) == 0 && rig.model().peek(0x2D) == rig.model().peek(0x21); }, 5s));
    const auto stood = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x30) == Stepper::kTiltCurrentDefault; }, 10s));
    const auto quiet = std::chrono::steady_clock::now() - stood;
    EXPECT_TRUE(quiet >= 2300ms && quiet <= 3500ms) << quiet.count();
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(countWrites(rig.model().writes(), 0x30, Stepper::kTiltCurrentDefault), 1u);
    const std::string text = log->text().substr(from);
    EXPECT_EQ(text.find("DEFAULT TILT_IHOLD_IRUN\n", text.find("DEFAULT TILT_IHOLD_IRUN\n") + 1), std::string::npos);
    // Past the tilt switch: stopped by it, backed off 30000 below where the tilt stood on it.
    s.moveAbsolute(0, 700000, 59000);
    ASSERT_TRUE(waitFor([&] { return s.limit_state == -2; }, 10s));
    ASSERT_TRUE(waitFor([&] { return s.limit_state == 1; }, 10s));
    EXPECT_EQ(s.saved_limit_state, 1);
    ASSERT_TRUE(waitFor([&] { return !rig.model().switches(0).right && rig.model().peek(0x22) == 0; }, 10s));
    EXPECT_NE(rig.output().find("NEW, ERR, GOTO TILT-UP LIMIT SAFE AREA ( "), std::string::npos);
    EXPECT_NEAR(static_cast<int32_t>(rig.model().peek(0x2D)), 493614 - 20000, 20000);
    s.moveAbsolute(1, -200000, 143000);
    ASSERT_TRUE(waitFor([&] { return s.limit_state == -2; }, 10s));
    ASSERT_TRUE(waitFor([&] { return s.limit_state == 1 && !rig.model().switches(1).left; }, 10s));
    EXPECT_NE(rig.output().find("ERR, GOTO LEFT LIMIT SAFE AREA ( "), std::string::npos);
    EXPECT_GT(static_cast<int32_t>(rig.model().peek(0x4D)), -10000);

}

TEST_F(HomedHead, EngineeringCommandsPrintAndMove) {
    StepperRig& rig = *HomedHead::rig;
    Stepper& s = *rig.stepper;
    ScratchFile output;
    DebugCommand debug(s, rig.hw, output.file);
    auto target = [&](int motor) { return static_cast<int32_t>(rig.model().peek(reg(motor, XTARGET))); };
    auto actual = [&](int motor) { return static_cast<int32_t>(rig.model().peek(reg(motor, XACTUAL))); };
    auto swMode = [&](int motor) { return rig.model().peek(reg(motor, SW_MODE)); };
    auto run = [&](unsigned code, DebugArgs args = {}) {
        output.take();
        rig.model().writes();
        debug.run(code, args);
        return output.take();
    };
    // Lock positions one degree inside the limits, the stops armed.
    const struct { unsigned code; int motor; std::function<int32_t()> expected; const char* line; } locks[] = {
        {DebugCommand::kLeft, Stepper::kPan, [&] { return s.pan_left + 8533; }, "Go to LEFT lock position\n"},
        {DebugCommand::kRight, Stepper::kPan, [&] { return s.pan_right - 8533; }, "Go to RIGHT lock position\n"},
        {DebugCommand::kUp, Stepper::kTilt, [&] { return s.tilt_up - 8533; }, "Go to UP lock position\n"},
        {DebugCommand::kDown, Stepper::kTilt, [&] { return s.tilt_down + 8533; }, "Go to DOWN lock position\n"},
    };
    for (const auto& c : locks) {
        EXPECT_EQ(run(c.code), c.line);
        EXPECT_EQ(target(c.motor), c.expected()) << c.line;
        EXPECT_EQ(swMode(c.motor), 2223u) << c.line;
    }
    EXPECT_EQ(run(DebugCommand::kHome), "Go to HOME position\n");
    EXPECT_EQ((std::pair{target(Stepper::kPan), target(Stepper::kTilt)}),
              (std::pair{s.pan_center.load(), s.tilt_center.load()}));
    // Degree moves in whole units; targets past the limits refused.
    std::string text = run(DebugCommand::kAbsoluteDegrees, {1, 10});
    EXPECT_EQ(target(Stepper::kPan), s.pan_center + 85248);
    EXPECT_NE(text.find("175-Degree : Right(16C9) / LEFT(E937)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Go to ABSOLUTE PAN  Pos " + std::to_string(s.pan_center + 85248) + " (Degree 10 : 85248)\n"),
              std::string::npos);
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
    EXPECT_EQ(run(DebugCommand::kStop), "\n\n##MOTOR STOP\n");
    // Switch modes, the degree register and the read-outs.
    const struct { unsigned code; uint32_t degree; const char* line; } degrees[] = {
        {DebugCommand::kDegreeCentre, 1, "DEGREE Center\n"}, {DebugCommand::kDegree90, 2, "DEGREE 90\n"},
        {DebugCommand::kDegree150, 4, "DEGREE 150\n"}, {DebugCommand::kDegree350, 0, "DEGREE 350\n"}};
    for (const auto& d : degrees) {
        EXPECT_EQ(run(d.code), d.line);
        EXPECT_EQ(rig.camera->fpga().peek(1026), d.degree) << d.line;
    }
    EXPECT_EQ(run(DebugCommand::kSwitchesOff), "SWMODE All Disable\n");
    EXPECT_EQ((std::pair{swMode(Stepper::kPan), swMode(Stepper::kTilt)}), (std::pair{2220u, 2220u}));
    EXPECT_EQ(run(DebugCommand::kSwitchesOn), "SWMODE All Enable\n");
    EXPECT_EQ((std::pair{swMode(Stepper::kPan), swMode(Stepper::kTilt)}), (std::pair{2223u, 2223u}));
    ASSERT_TRUE(waitFor([&] { return rig.model().peek(reg(0, VACTUAL)) == 0 && rig.model().peek(reg(1, VACTUAL)) == 0; }, 10s));
    const std::string t = std::to_string(actual(Stepper::kTilt)), p = std::to_string(actual(Stepper::kPan));
    EXPECT_EQ(run(DebugCommand::kPositions), "TILT TMCR_XACTUAL " + t + "\nPAN  TMCR_XACTUAL " + p + "\n");
    EXPECT_EQ(run(99), "#0 TMCR_XACTUAL " + t + "\n#1 TMCR_XACTUAL " + p + "\n");
    EXPECT_EQ(run(DebugCommand::kRampStatus).rfind("TILT RAMP_STATUS 0x", 0), 0u);
    EXPECT_EQ(run(DebugCommand::kTiltBy, {-4000}), "TILT Move By -4000 position\n");
    EXPECT_EQ(target(Stepper::kTilt), std::stoi(t) - 4000);
    EXPECT_EQ(swMode(Stepper::kTilt), 2220u);
    // Servo registers written in sign-magnitude; the read-out.
    ASSERT_TRUE(waitFor([&] { return s.zoom().zoom_ready.load() == 1; }, 40s));
    sim::SmsStsServo& servo = *rig.camera->servo();
    EXPECT_EQ(run(DebugCommand::kServoWrite, {31, -100}), "ZoomServo addr : 31, var -100\n");
    EXPECT_EQ(servo.peek(31) | servo.peek(32) << 8, 0x864);
    const int minAngle = servo.peek(9) | servo.peek(10) << 8;
    run(DebugCommand::kServoWrite, {9, -5});  // two bytes, sign at bit 15
    EXPECT_EQ(servo.peek(9) | servo.peek(10) << 8, 0x8005);
    run(DebugCommand::kServoWrite, {9, minAngle});
    run(DebugCommand::kServoWrite, {41, 300});  // one byte
    EXPECT_EQ(servo.peek(41), 300 & 0xFF);
    const uint8_t unlisted = servo.peek(5);
    run(DebugCommand::kServoWrite, {5, unlisted ^ 0x55});  // not a writable register: ignored
    EXPECT_EQ(servo.peek(5), unlisted);
    text = run(DebugCommand::kServoRead, {1, 41});
    EXPECT_EQ(text.rfind("ZoomServo Read addr : 41, var 44\nPosOffset = -100 targetPos = ", 0), 0u) << text;
    EXPECT_NE(text.find(" Move = "), std::string::npos);
}

// QC mode: while the head is under way the lamp blinks the third colour (code 3); once there the relay runs the
// sweep through the engineering commands; stop sends the head home.
TEST_F(HomedHead, QcRelaySweepsAndSendsTheHeadHomeOnStop) {
    Stepper& s = *rig->stepper;
    ScratchFile output;
    std::string printed;
    DebugCommand debug(s, rig->hw, output.file);
    FakeViscaTarget target;
    TallyLamp lamp(rig->hw);
    TallyRelay relay(nullptr, target, s, lamp, debug, true);
    s.moveAbsolute(Stepper::kPan, s.pan_left + 8533, 20000);  // seconds of travel
    relay.start();
    EXPECT_TRUE(waitFor([&] { return rig->camera->fpga().peek(1025) == 3; }, 5s));
    // The pan sweep starts 10 degrees in from -175 (past this head's limits, so refused).
    const std::string first = "Go to ABSOLUTE PAN  Pos " + std::to_string(s.pan_center + ((-165 * 8533) & ~0xFF));
    EXPECT_TRUE(waitFor([&] { return (printed += output.take()).find(first) != std::string::npos; }, 10s)) << printed;
    EXPECT_LT(elapsed([&] { relay.stop(); }), 2500ms);
    EXPECT_NE(output.take().find("Go to HOME position\n"), std::string::npos);
    EXPECT_EQ(static_cast<int32_t>(rig->model().peek(reg(Stepper::kPan, XTARGET))), s.pan_center.load());
}

TEST(StepperStart, FixedLimitsWithoutTheSwitchSearchAndAStopScalesDecelerationToTheSpeed) {
    StepperRig rig(StepperRig::fastSettings(), 0);
    ASSERT_TRUE(rig.begin());
    ASSERT_TRUE(waitFor([&] { return rig.stepper->limit_state == 0 && rig.model().peek(0x54) == 0x8AC; }, 10s));
    Stepper& s = *rig.stepper;
    // The centres where the start left XACTUAL.
    EXPECT_EQ((std::vector<int32_t>{s.pan_left, s.pan_right, s.tilt_up, s.tilt_down, s.pan_center, s.tilt_center}),
              (std::vector<int32_t>{-4000000, 4000000, 500000, -500000, 1, 1}));
    EXPECT_EQ(rig.model().peek(0x34), 0x8ACu);
    EXPECT_EQ(rig.model().microsteps(1), 0.0);  // nothing moved
    EXPECT_EQ(rig.output().find("Successfully initialized"), std::string::npos);
    // The switch stops are off, so the motors run at speed as long as asked.
    const struct { int32_t speed; uint32_t amax; } cases[] = {{1000, 100}, {-200000, 10000}};
    for (const auto& c : cases) {
        s.rotate(1, c.speed);
        ASSERT_TRUE(waitFor([&] { return int32_t(rig.model().peek(0x42) << 8) >> 8 == c.speed; }, 5s)) << c.speed;
        rig.model().writes();
        s.stop(1);
        const auto w = rig.model().writes();
        ASSERT_EQ(w.size(), 4u);
        EXPECT_EQ((std::vector<int>{w[0].reg, w[1].reg, w[2].reg, w[3].reg}), (std::vector<int>{0x45, 0x46, 0x47, 0x40}));
        EXPECT_EQ((std::vector<uint32_t>{w[0].value, w[1].value, w[3].value}), (std::vector<uint32_t>{0, c.amax, 1}));
        // Comes to rest in about 5120 velocity updates whatever the speed.
        ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x42) == 0; }, 2s)) << c.speed;
    }
    EXPECT_EQ(s.stop(2), Stepper::kBadMotor);
    EXPECT_TRUE(rig.model().writes().empty());
    // Termination stops pan, then tilt, and names the signal; closed, the stepper no longer answers.
    s.rotate(1, 50000);
    s.rotate(0, -20000);
    rig.model().writes();
    ScratchFile signalled;
    SignalWatcher::respond(SIGTERM, signalled.file);
    EXPECT_EQ(signalled.take(), "\nSIGTERM\n");
    const auto w = rig.model().writes();
    EXPECT_LT(firstWrite(w, 0x40, 1), firstWrite(w, 0x20, 1));
    EXPECT_LT(firstWrite(w, 0x20, 1), w.size());
    s.close();
    rig.model().writes();
    SignalWatcher::respond(SIGINT, signalled.file);
    EXPECT_TRUE(rig.model().writes().empty());
}

TEST(StepperStart, PanSearchTravelFollowsTheDegreeModeAndTheSpeedTable) {
    const struct { int32_t degree, travel; } cases[] = {
        {90, 800000}, {350, 3100000}, {150, 1350000}, {200, 1350000}, {0, 1550000}};
    sim::VirtualCamera camera(StepperRig::fastSettings());
    auto hw = std::make_shared<hardware>(camera.platform());
    for (const auto& c : cases) {
        Stepper s(hw, 1, nullptr, c.degree, 1.0f, camera.platform());
        EXPECT_EQ((std::pair{s.pan_search_pos, s.pan_search_neg}), (std::pair{c.travel, -c.travel})) << c.degree;
    }
    // The speed table applies the speed-up above index seventeen.
    Stepper s(nullptr, 1, nullptr, 90, 1.6f, camera.platform());
    // Index 99 is clamped, not read past the table.
    EXPECT_EQ((std::vector<uint32_t>{s.speedFromIndex(1, 17), s.speedFromIndex(1, 24), s.speedFromIndex(0, 18),
                                     s.speedFromIndex(0, 0), s.speedFromIndex(0, 99)}),
              (std::vector<uint32_t>{75000, 400000, 153600, 0, 400000}));
    s.setMaxSpeedUp(1.0f);
    EXPECT_EQ((std::pair{s.speedFromIndex(1, 24), s.panHomingSpeed()}), (std::pair{250000u, 143000u}));
}

TEST(StepperFaults, DeadBusFailingControllerOrCorruptedEcho) {
    StepperRig rig;
    rig.model().setDeadBus(true);
    LogCapture log(3);
    EXPECT_FALSE(rig.begin());
    EXPECT_FALSE(rig.stepper->isOpen());
    EXPECT_NE(log.text().find("M1: Handshake failed: got ff ff ff ff after first set\n"), std::string::npos);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(rig.stepper->limit_state, -1);
    EXPECT_EQ(rig.model().microsteps(1), 0.0);

    StepperRig failing;  // a failing controller fails it by send/receive
    failing.model().setBusError(true);
    LogCapture failed(3);
    EXPECT_FALSE(failing.begin());
    EXPECT_EQ(failed.text(), "SPI send/receive: Input/output errorM1: Handshake failed: send/receive\n");
    // A corrupted echo fails the write and keeps the shadow, though the chip took the value.
    StepperRig echo;
    ASSERT_TRUE(echo.stepper->open("/dev/spidev32766.0"));
    ASSERT_TRUE(echo.stepper->writeRegister(0x27, 5000));
    echo.model().corruptEchoes(1);
    LogCapture corrupted(2);
    EXPECT_FALSE(echo.stepper->writeRegister(0x27, 7000));
    uint32_t value = 0;
    EXPECT_TRUE(echo.stepper->readRegister(0x27, value) && value == 5000u) << value;
    EXPECT_NE(corrupted.text().find("SET TMC5041@0x0027 = 7000 (0x00001b58) ["), std::string::npos);
    EXPECT_EQ(echo.model().peek(0x27), 7000u);
}

TEST(StepperShutdown, CloseMidHomingIsPromptAndStartsNoControlThread) {
    for (auto delay : {200ms, 1400ms, 2500ms}) {  // escape sleep, pan search, tilt switch wait
        StepperRig rig;
        ASSERT_TRUE(rig.begin());
        std::this_thread::sleep_for(delay);
        EXPECT_LT(elapsed([&] { rig.stepper->close(); }), 500ms) << delay.count();  // homing itself takes seconds
        EXPECT_EQ(rig.stepper->limit_state, -1);
        // Both motors were told to stop (velocity mode, VMAX 0) and come to rest.
        EXPECT_EQ((std::pair{rig.model().peek(0x40), rig.model().peek(0x20)}), (std::pair{1u, 1u}));
        EXPECT_TRUE(waitFor([&] { return rig.model().peek(0x42) == 0 && rig.model().peek(0x22) == 0; }, 2s));
    }
}

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
    PtzMotion motion{std::shared_ptr<Stepper>(rig.stepper.get(), [](Stepper*) {}), "/proc/unmakeable/config.cfg"};
};
}  // namespace

// The speed forms, and tilt first.
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

// Every direction reaches its axes' targets; a reversed axis goes the other way, the other axis not.
TEST_F(Motion, DirectionsAndEachAxisReversed) {
    const struct { int direction, tilt, pan; } parts[] = {  // 1 up or left, 2 down or right, 0 still
        {PtzMotion::kUp, 1, 0},     {PtzMotion::kDown, 2, 0},    {PtzMotion::kLeft, 0, 1},     {PtzMotion::kRight, 0, 2},
        {PtzMotion::kUpLeft, 1, 1}, {PtzMotion::kUpRight, 1, 2}, {PtzMotion::kDownLeft, 2, 1}, {PtzMotion::kDownRight, 2, 2}};
    const int64_t tiltTo[] = {-1, kUp, kDown}, panTo[] = {-1, kLeft, kRight};
    for (const auto& [tiltReverse, panReverse] : {std::pair{0, 0}, {1, 0}, {0, 1}}) {
        motion.tilt_reverse = uint8_t(tiltReverse), motion.pan_reverse = uint8_t(panReverse);
        for (const auto& c : parts) {
            motion.panTiltDrive(c.direction, 5, 5, 0);
            const int t = tiltReverse && c.tilt ? 3 - c.tilt : c.tilt, p = panReverse && c.pan ? 3 - c.pan : c.pan;
            const auto d = driven();
            EXPECT_EQ((std::pair{d[0], d[2]}), (std::pair{tiltTo[t], panTo[p]}))
                << c.direction << " reversed tilt " << tiltReverse << " pan " << panReverse;
        }
    }
    // Saving a setting to a configuration that cannot be written is logged, never thrown.
    EXPECT_NO_THROW(motion.configWrite(0x200E));
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
