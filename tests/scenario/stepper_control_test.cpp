// The motion stack against the simulated head: primitives, the control thread, faults and shutdown.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "platform/signal_watcher.h"
#include "support/scenario_elapsed.h"
#include "support/stepper_rig.h"
#include "support/wait_for.h"
#include "support/log_capture.h"

using namespace std::chrono_literals;

namespace {
size_t countWrites(const std::vector<sim::Tmc5041Model::Write>& writes, uint8_t reg,
                   std::optional<uint32_t> value = std::nullopt) {
    return static_cast<size_t>(std::count_if(writes.begin(), writes.end(), [&](const auto& w) {
        return w.reg == reg && (!value || w.value == *value);
    }));
}

// Homed and at the tilt centre, the control thread given time to take over, the writes cleared.
void home(StepperRig& rig) {
    ASSERT_TRUE(rig.begin());
    ASSERT_TRUE(waitFor([&] { return rig.stepper->limit_state == 1; }, 40s));
    ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x21) == 314421u; }, 10s));
    std::this_thread::sleep_for(150ms);
    rig.model().writes();
}

class Homed : public testing::Test {
protected:
    void SetUp() override { home(rig); }
    StepperRig rig;
};
}  // namespace

TEST_F(Homed, SwitchHitsEscapeTiltDownAndPanRight) {
    Stepper& s = *rig.stepper;
    // Drive the tilt past its switch: the switch stops it, the control thread backs it off.
    s.moveAbsolute(0, 700000, 59000);
    ASSERT_TRUE(waitFor([&] { return s.limit_state == -2; }, 10s));
    ASSERT_TRUE(waitFor([&] { return s.limit_state == 1; }, 10s));
    EXPECT_EQ(s.saved_limit_state, 1);
    ASSERT_TRUE(waitFor([&] { return !rig.model().switches(0).right && rig.model().peek(0x22) == 0; }, 10s));
    EXPECT_NE(rig.output().find("NEW, ERR, GOTO TILT-UP LIMIT SAFE AREA ( "), std::string::npos);
    // The escape target is 30000 below where the tilt stood when it was seen on the switch.
    const int32_t target = static_cast<int32_t>(rig.model().peek(0x2D));
    EXPECT_LT(target, 493614);
    EXPECT_GT(target, 493614 - 30000 - 10000);

    s.moveAbsolute(1, -200000, 143000);
    ASSERT_TRUE(waitFor([&] { return s.limit_state == -2; }, 10s));
    ASSERT_TRUE(waitFor([&] { return s.limit_state == 1 && !rig.model().switches(1).left; }, 10s));
    EXPECT_NE(rig.output().find("ERR, GOTO LEFT LIMIT SAFE AREA ( "), std::string::npos);
    EXPECT_GT(static_cast<int32_t>(rig.model().peek(0x4D)), -10000);
}

// The older tilt wiring drives both inputs: past the top, the tilt is backed off with the switch
// stops off for three seconds, then armed again.
TEST(HomedOldWiring, TiltSwitchHitBacksOffWithTheStopsOff) {
    sim::SimSettings settings = StepperRig::fastSettings();
    settings.head.oldTiltWiring = true;
    StepperRig rig(settings);
    home(rig);
    Stepper& s = *rig.stepper;
    s.moveAbsolute(0, 700000, 59000);
    ASSERT_TRUE(waitFor([&] { return rig.output().find("ERR, GOTO UP RIGHT SAFE AREA ( ") != std::string::npos; }, 10s))
        << rig.output();
    ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x34) == 0x8AF; }, 10s));
    EXPECT_TRUE(waitFor([&] { return s.limit_state == 1 && !rig.model().switches(0).right; }, 5s));
    std::vector<uint32_t> switchModes;
    bool escapeTarget = false;
    for (const auto& w : rig.model().writes()) {
        if (w.reg == 0x34) switchModes.push_back(w.value);  // tilt SW_MODE
        escapeTarget |= w.reg == 0x2D && w.value == 493614 - 30000;  // tilt XTARGET
    }
    EXPECT_TRUE(escapeTarget);
    EXPECT_EQ(switchModes, (std::vector<uint32_t>{0x8AC, 0x8AF}));
}

TEST_F(Homed, IdleTiltCurrentDropsOnceAfterQuietPasses) {
    LogCapture log(5);
    Stepper& s = *rig.stepper;
    s.moveRelative(0, -2000, 59000);  // sets the moving current
    ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x22) == 0 && rig.model().peek(0x2D) == rig.model().peek(0x21); }, 5s));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x30) == Stepper::kTiltCurrentDefault; }, 10s));
    const auto quiet = std::chrono::steady_clock::now() - start;
    // 25 passes of 100 ms after the last event; at most one more for the position-reached event.
    EXPECT_GE(quiet, 2300ms);
    EXPECT_LE(quiet, 3500ms);
    std::this_thread::sleep_for(3s);
    const auto writes = rig.model().writes();
    EXPECT_EQ(countWrites(writes, 0x30, Stepper::kTiltCurrentDefault), 1u);
    const std::string text = log.text();
    size_t lines = 0;
    for (size_t at = 0; (at = text.find("DEFAULT TILT_IHOLD_IRUN\n", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, 1u);
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
    const struct { int32_t speed; uint32_t amax; } cases[] = {{1000, 100}, {-200000, 10000}, {60000, 3000}};
    for (const auto& c : cases) {
        s.rotate(1, c.speed);
        ASSERT_TRUE(waitFor([&] { return static_cast<int32_t>(rig.model().peek(0x42) << 8) >> 8 == c.speed; }, 5s))
            << c.speed;
        rig.model().writes();
        s.stop(1);
        const auto w = rig.model().writes();
        ASSERT_EQ(w.size(), 4u);
        EXPECT_EQ((std::vector<int>{w[0].reg, w[1].reg, w[2].reg, w[3].reg}),
                  (std::vector<int>{0xC5 & 0x7F, 0x46, 0x47, 0x40}));
        EXPECT_EQ((std::vector<uint32_t>{w[0].value, w[1].value, w[3].value}), (std::vector<uint32_t>{0, c.amax, 1}));
        // Comes to rest in about 5120 velocity updates whatever the speed.
        ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x42) == 0; }, 2s)) << c.speed;
    }
    EXPECT_EQ(s.stop(2), Stepper::kBadMotor);
    EXPECT_TRUE(rig.model().writes().empty());
}

TEST_F(Homed, MoveAbsoluteRestoresRampsAndWritesTheTargetOnlyOnChangeAndTerminationStopsPanThenTilt) {
    Stepper& s = *rig.stepper;
    s.stop(1);
    rig.model().writes();
    s.moveAbsolute(1, 100000, 20000);
    auto w = rig.model().writes();
    EXPECT_EQ(countWrites(w, 0x45, 1000), 1u);  // V1 back after the stop
    EXPECT_EQ(countWrites(w, 0x46, 3000), 1u);
    EXPECT_EQ(countWrites(w, 0x4D, 100000), 1u);
    EXPECT_EQ(countWrites(w, 0x30), 0u);  // the pan leaves the tilt current alone
    s.moveAbsolute(1, 100000, 20000);
    w = rig.model().writes();
    EXPECT_EQ(countWrites(w, 0x4D), 0u);
    EXPECT_EQ(countWrites(w, 0x45), 0u);
    s.moveAbsolute(0, 300000, 20000);
    w = rig.model().writes();
    EXPECT_EQ(countWrites(w, 0x30, Stepper::kTiltCurrentMoving), 1u);
    ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x41) == 100000u; }, 10s));
    EXPECT_EQ(s.moveAbsolute(2, 0, 1), Stepper::kBadMotor);
    EXPECT_EQ(s.rotate(-1, 1), Stepper::kBadMotor);

    // Termination stops pan, then tilt, and names the signal.
    s.rotate(1, 50000);
    s.rotate(0, -20000);
    rig.model().writes();
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    SignalWatcher::respond(SIGTERM, out);
    std::fclose(out);
    EXPECT_EQ(std::string(text, size), "\nSIGTERM\n");
    std::free(text);
    w = rig.model().writes();
    const auto panStop = std::find_if(w.begin(), w.end(), [](const auto& x) { return x.reg == 0x40 && x.value == 1; });
    const auto tiltStop = std::find_if(w.begin(), w.end(), [](const auto& x) { return x.reg == 0x20 && x.value == 1; });
    ASSERT_NE(panStop, w.end());
    ASSERT_NE(tiltStop, w.end());
    EXPECT_LT(panStop - w.begin(), tiltStop - w.begin());
    // Closed, the stepper no longer answers for the signal.
    s.close();
    rig.model().writes();
    FILE* sink = std::fopen("/dev/null", "w");
    SignalWatcher::respond(SIGINT, sink);
    std::fclose(sink);
    EXPECT_TRUE(rig.model().writes().empty());
}

TEST(StepperStart, PanSearchTravelFollowsTheDegreeModeAndTheSpeedTable) {
    const struct { int32_t degree, travel; } cases[] = {
        {90, 800000}, {350, 3100000}, {150, 1350000}, {200, 1350000}, {0, 1550000}};
    sim::VirtualCamera camera(StepperRig::fastSettings());
    auto hw = std::make_shared<hardware>(camera.platform());
    for (const auto& c : cases) {
        Stepper s(hw, 1, nullptr, c.degree, 1.0f, camera.platform());
        EXPECT_EQ(s.pan_search_pos, c.travel) << c.degree;
        EXPECT_EQ(s.pan_search_neg, -c.travel) << c.degree;
    }
    // The speed table applies the speed-up above index seventeen.
    Stepper s(nullptr, 1, nullptr, 90, 1.6f, camera.platform());
    EXPECT_EQ(s.speedFromIndex(1, 17), 75000u);
    EXPECT_EQ(s.speedFromIndex(1, 24), 400000u);
    EXPECT_EQ(s.speedFromIndex(0, 18), 153600u);
    EXPECT_EQ(s.speedFromIndex(0, 0), 0u);
    EXPECT_EQ(s.speedFromIndex(0, 99), 400000u);  // clamped, not read past the table
    s.setMaxSpeedUp(1.0f);
    EXPECT_EQ(s.speedFromIndex(1, 24), 250000u);
    EXPECT_EQ(s.panHomingSpeed(), 143000u);
}

TEST(StepperFaults, DeadBusOrFailingControllerFailTheHandshakeAndStartNothing) {
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
    EXPECT_FALSE(failing.stepper->isOpen());
}

TEST(StepperFaults, CorruptedEchoFailsTheWriteAndKeepsTheShadow) {
    StepperRig rig;
    ASSERT_TRUE(rig.stepper->open("/dev/spidev32766.0"));
    Stepper& s = *rig.stepper;
    ASSERT_TRUE(s.writeRegister(0x27, 5000));
    rig.model().corruptEchoes(1);
    LogCapture log(2);
    EXPECT_FALSE(s.writeRegister(0x27, 7000));
    uint32_t value = 0;
    EXPECT_TRUE(s.readRegister(0x27, value));
    EXPECT_EQ(value, 5000u);
    EXPECT_NE(log.text().find("SET TMC5041@0x0027 = 7000 (0x00001b58) ["), std::string::npos);
    EXPECT_NE(log.text().find("] error\n"), std::string::npos);
    // The chip did take the value; only the confirmation was lost.
    EXPECT_EQ(rig.model().peek(0x27), 7000u);
}

TEST(StepperShutdown, CloseMidHomingIsPromptAndStartsNoControlThread) {
    for (auto delay : {200ms, 1400ms, 2500ms}) {  // escape sleep, pan search, tilt switch wait
        StepperRig rig;
        ASSERT_TRUE(rig.begin());
        std::this_thread::sleep_for(delay);
        EXPECT_LT(elapsed([&] { rig.stepper->close(); }), 500ms) << delay.count();  // homing itself takes seconds
        EXPECT_EQ(rig.stepper->limit_state, -1);
        // Both motors were told to stop (velocity mode, VMAX 0) and come to rest.
        EXPECT_EQ(rig.model().peek(0x40), 1u);
        EXPECT_EQ(rig.model().peek(0x20), 1u);
        EXPECT_TRUE(waitFor([&] { return rig.model().peek(0x42) == 0 && rig.model().peek(0x22) == 0; }, 2s));
    }
}
