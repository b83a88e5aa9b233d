// The tally relay thread against the lamp register and the stand-in's tally: blinking while
// homing and during limit events, receivers' tally into the ring, the QC sweep and its stop.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "control/tally_relay.h"
#include "media/network_send.h"
#include "status/tally_lamp.h"
#include "support/fake_visca_target.h"
#include "support/scenario_elapsed.h"
#include "support/stepper_rig.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
constexpr uint32_t kLampWord = TallyLamp::kBlock + TallyLamp::kRegister;

class Relay {
public:
    explicit Relay(StepperRig& rig, bool qcMode)
        : rig(rig),
          sender(std::make_shared<network_send>("{}", "<ndi_capabilities/>", "PTZ", rig.camera->platform())),
          lamp(rig.hw),
          debug(*rig.stepper, rig.hw, sink.get()),
          relay(sender, target, *rig.stepper, lamp, debug, qcMode) {}

    uint32_t lampCode() { return rig.camera->fpga().peek(kLampWord); }
    std::set<uint32_t> lampCodesOver(std::chrono::milliseconds span) {
        std::set<uint32_t> seen;
        const auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) {
            seen.insert(lampCode());
            std::this_thread::sleep_for(5ms);
        }
        return seen;
    }
    std::string debugOutput() {
        std::ifstream in(outputPath);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    ~Relay() {
        relay.stop();
        std::filesystem::remove(outputPath);
    }
    std::vector<float> tallies() {
        std::vector<float> values;
        for (const auto& c : target.commands())
            if (c.code == VISCA_PTZ_TALLY) values.push_back(c.arg1);
        return values;
    }

    StepperRig& rig;
    // The engineering commands' replies, in a file of the test's own.
    std::string outputPath = std::filesystem::temp_directory_path() / ("tally-relay-" + std::to_string(getpid()));
    std::unique_ptr<FILE, int (*)(FILE*)> sink{std::fopen(outputPath.c_str(), "w"), &std::fclose};
    FakeViscaTarget target;
    std::shared_ptr<network_send> sender;
    TallyLamp lamp;
    DebugCommand debug;
    TallyRelay relay;
};
}  // namespace

TEST(TallyRelay, BlinksWhileHomingAndOnLimitsAndRelaysProgramThenPreview) {
    StepperRig rig;  // not begun: the limit state is the test's to set
    Relay r(rig, false);
    r.relay.start();
    EXPECT_EQ(r.lampCodesOver(1200ms), (std::set<uint32_t>{TallyLamp::kDark, TallyLamp::kOff}));
    rig.stepper->limit_state = 1;
    ASSERT_TRUE(waitFor([&] { return r.lampCode() == TallyLamp::kOff; }, 1s));
    EXPECT_EQ(r.lampCodesOver(600ms), std::set<uint32_t>{TallyLamp::kOff});

    const struct { bool program, preview; } tallies[] = {{true, false}, {true, true}, {false, true}, {false, false}};
    std::vector<float> expected;
    for (const auto& t : tallies) {
        rig.camera->ndi().setTally(t.program, t.preview);
        expected.push_back(t.program || t.preview ? 1.0f : 0.0f);
        ASSERT_TRUE(waitFor([&] { return r.tallies().size() == expected.size(); }, 2s));
    }
    EXPECT_EQ(r.tallies(), expected);

    rig.stepper->limit_state = -2;
    ASSERT_TRUE(waitFor([&] { return r.lampCode() == TallyLamp::kOn; }, 1s));
    EXPECT_EQ(r.lampCodesOver(1200ms), (std::set<uint32_t>{TallyLamp::kDark, TallyLamp::kOn}));
    rig.stepper->limit_state = 1;
    ASSERT_TRUE(waitFor([&] { return r.lampCode() == TallyLamp::kOff; }, 1s));

    EXPECT_LT(elapsed([&] { r.relay.stop(); }), 700ms);
    EXPECT_EQ(r.tallies().size(), expected.size()) << "no motion or tally without a change";
}

TEST(TallyRelay, QcModeSweepsOnceHomedAndSendsTheHeadHomeOnStop) {
    StepperRig rig;
    ASSERT_TRUE(rig.begin());
    Relay r(rig, true);
    r.relay.start();
    ASSERT_TRUE(waitFor([&] { return rig.stepper->limit_state == 1; }, 40s));
    Stepper& s = *rig.stepper;
    // After the stop and its pause, the pan sweep starts 10 degrees in from -175 (past this head's
    // limits, so refused).
    const std::string firstStep = "Go to ABSOLUTE PAN  Pos " + std::to_string(s.pan_center + ((-165 * 8533) & ~0xFF));
    ASSERT_TRUE(waitFor([&] { return r.debugOutput().find(firstStep) != std::string::npos; }, 10s)) << r.debugOutput();
    EXPECT_NE(r.debugOutput().find("\n\n##MOTOR STOP\n"), std::string::npos);
    const uint8_t panTarget = tmc5041::reg(Stepper::kPan, tmc5041::XTARGET);
    EXPECT_LT(elapsed([&] { r.relay.stop(); }), 2500ms);
    EXPECT_NE(r.debugOutput().find("Go to HOME position\n"), std::string::npos);
    EXPECT_EQ(static_cast<int32_t>(rig.model().peek(panTarget)), s.pan_center.load());
    EXPECT_EQ(static_cast<int32_t>(rig.model().peek(tmc5041::reg(Stepper::kTilt, tmc5041::XTARGET))),
              s.tilt_center.load());
}
