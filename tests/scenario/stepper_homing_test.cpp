// The motion stack homing the simulated head: both tilt wirings, a start on a switch, fixed limits.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/log_capture.h"
#include "support/stepper_rig.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
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
    ASSERT_TRUE(waitFor([&] { return rig.stepper->limit_state == 1; }, 40s));
    auto& s = *rig.stepper;
    EXPECT_EQ(s.pan_left, 1);
    EXPECT_EQ(s.pan_center, (s.pan_right + s.pan_left - 53126) / 2);
    EXPECT_EQ(s.tilt_up, 493614);
    EXPECT_EQ(s.tilt_down, 1);
    EXPECT_EQ(s.tilt_center, 314421);
    // Parked on the homes found, the inputs clear, the switch stops back on.
    ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x41) == uint32_t(s.pan_center.load()); }, 10s));
    ASSERT_TRUE(waitFor([&] { return rig.model().peek(0x21) == 314421u; }, 10s));
    for (int axis : {0, 1}) {
        EXPECT_FALSE(rig.model().switches(axis).left) << axis;
        EXPECT_FALSE(rig.model().switches(axis).right) << axis;
    }
    EXPECT_EQ(rig.model().peek(0x34), 0x8AFu);
    EXPECT_EQ(rig.model().peek(0x54), 0x8AFu);
    // The tilt home sits 179193 below the switch edge, give or take the soft-stop overshoot.
    const double tiltBelowSwitch = c.tiltUp - rig.model().microsteps(0);
    EXPECT_GT(tiltBelowSwitch, 179193 - 6000);
    EXPECT_LT(tiltBelowSwitch, 179193 + 6000);
    // The pan right limit is the latched edge of the right switch, counted from the left stop.
    const double panCentre = rig.model().microsteps(1);
    const double leftStop = panCentre - s.pan_center;
    // Within one velocity update at homing speed (143000 / 32768 microsteps) and the counter's rounding.
    EXPECT_NEAR(leftStop + s.pan_right, c.panRight, 6.0);
    const std::string out = rig.output();
    size_t at = 0;
    std::string lines = c.expectedLines;
    for (size_t start = 0, end; start < lines.size(); start = end + 1) {
        end = lines.find('\n', start);
        const std::string line = lines.substr(start, end - start);
        const size_t found = out.find(line, at);
        EXPECT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n--- output:\n" << out;
        if (found != std::string::npos) at = found + line.size();
    }
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
