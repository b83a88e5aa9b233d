// A serial bus servo of the SMS/STS kind driving the zoom ring: its memory map, instruction
// and status packets, position and step modes, goal speed and acceleration, the torque
// limit, two mechanical end stops, the centre calibration and the offset.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace sim {

class SmsStsServo {
public:
    using Clock = std::chrono::steady_clock;

    struct Config {
        uint8_t id = 1;
        // Steps between the two mechanical ends; the servo starts in the middle.
        int travel = 3976;
        double speed = 1.0;  // mechanics speed factor (PTZSIM_SPEED)
    };
    // Load (0.1 % of full torque) the ring's friction takes while it turns freely.
    static constexpr int kFreeLoad = 60;
    // Steps a second at goal speed 0 (the servo's fastest).
    static constexpr double kTopSpeed = 3400;
    static constexpr int kCentre = 2048;

    explicit SmsStsServo(const Config& config);

    // One instruction packet, header through checksum, whose last byte arrived at `when`:
    // the status packet to send back, or nothing (bad checksum, other ID, broadcast, level 0).
    std::vector<uint8_t> handle(const std::vector<uint8_t>& packet, Clock::time_point when);
    // The line speed the servo listens at (register 6), in bits per second.
    int baudRate();

    // Back door in servo terms, brought up to `when`.
    struct State {
        int position;  // present position register
        int target;    // target position register
        int speed;     // steps a second, signed
        int load;      // 0.1 % of full torque, signed
        int moving;
        int mode;
        int torqueLimit;
        int torqueEnable;
        int offset;    // steps
        double physical;  // steps from the low end
    };
    State state(Clock::time_point when = Clock::now());
    uint8_t peek(uint8_t address);
    void report(nlohmann::json& state);

private:
    void advanceTo(Clock::time_point when);
    void step(double seconds);
    void applyWrite(uint8_t address, const uint8_t* data, size_t n);
    void refreshPresent();
    std::vector<uint8_t> status(const uint8_t* data, size_t n);
    uint16_t word(uint8_t address) const;
    void setWord(uint8_t address, uint16_t value);
    bool atRest() const;
    int presentPosition() const;

    const Config config;
    const Clock::time_point epoch;
    std::mutex mutex;
    std::array<uint8_t, 256> regs{};
    std::vector<uint8_t> deferred;  // address and data of a deferred write
    double modelTime = 0;           // seconds of servo time since the epoch
    // Mechanics, in steps of the raw counter (present position = raw - offset).
    double raw = kCentre;
    double velocity = 0;
    double targetRaw = kCentre;
    double lowEnd, highEnd;
    int offsetSteps = 0;
    int load = 0;
};

}  // namespace sim
