// The front tally lamp: one FPGA register whose code selects on, off, dark or the third colour.
#pragma once

#include <cstdint>
#include <memory>

class hardware;

class TallyLamp {
public:
    static constexpr uint32_t kBlock = 1024;
    static constexpr uint32_t kRegister = 1;
    // Register codes.
    static constexpr uint32_t kDark = 0;
    static constexpr uint32_t kOn = 1;
    static constexpr uint32_t kOff = 2;
    static constexpr uint32_t kAlternate = 3;

    explicit TallyLamp(std::shared_ptr<hardware> hw) : hw(std::move(hw)) {}

    void setTallyLamp(bool on);
    // The dark phase of a blink when `phase` is 0; otherwise the lit code of `mode`.
    void blinkLamp(int mode, int phase);

private:
    std::shared_ptr<hardware> hw;
};
