// The tally lamp codes reaching the simulated FPGA's lamp register and the state document.
#include <gtest/gtest.h>

#include <memory>

#include <nlohmann/json.hpp>

#include "hw/hardware.h"
#include "status/tally_lamp.h"
#include "sim/app/virtual_camera.h"

namespace {
sim::SimSettings quiet() {
    sim::SimSettings s;
    s.httpPort = 0;
    return s;
}

constexpr uint32_t kLampWord = TallyLamp::kBlock + TallyLamp::kRegister;
}  // namespace

TEST(TallyLampOnSimulator, CodesFollowTallyAndBlinkPhases) {
    sim::VirtualCamera camera(quiet());
    auto hw = std::make_shared<hardware>(camera.platform());
    TallyLamp lamp(hw);
    struct Step {
        std::function<void()> action;
        uint32_t code;
    };
    const Step steps[] = {
        {[&] { lamp.setTallyLamp(true); }, 1},  {[&] { lamp.blinkLamp(-1, 0); }, 0},
        {[&] { lamp.blinkLamp(-1, 1); }, 3},    {[&] { lamp.blinkLamp(5, 7); }, 1},
        {[&] { lamp.blinkLamp(0, 1); }, 2},     {[&] { lamp.setTallyLamp(true); }, 1},
        {[&] { lamp.blinkLamp(0, 1); }, 2},     {[&] { lamp.setTallyLamp(false); }, 2},
        {[&] { lamp.blinkLamp(1, 0); }, 0},
    };
    for (const auto& step : steps) {
        step.action();
        EXPECT_EQ(camera.fpga().peek(kLampWord), step.code);
        EXPECT_EQ(camera.api().state()["fpga"]["lamp"], step.code);
    }
}

TEST(TallyLampOnSimulator, StateReportsTheDegreeRegisterBesideTheLamp) {
    sim::VirtualCamera camera(quiet());
    hardware hw(camera.platform());
    hw.write32(1024, 2, 4);
    hw.write32(1024, 1, 2);
    const auto state = camera.api().state();
    EXPECT_EQ(state["fpga"]["degree"], 4u);
    EXPECT_EQ(state["fpga"]["lamp"], 2u);
    EXPECT_TRUE(state["fpga"].contains("platform_id"));
}
