// The TMC5041 dual motion controller as its data sheet describes it: SPI datagrams with the
// read pipeline and status byte, two ramp generators driving the head, the motion interrupt.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "sim/fpga/fpga_model.h"
#include "sim/motion/head_mechanics.h"
#include "sim/motion/tmc5041_ramp.h"

namespace sim {

class Tmc5041Model {
public:
    static constexpr int kMotionLine = 5;
    static constexpr double kClockHz = 13.2e6;  // the chip's internal clock, typical
    static constexpr int kClocksPerUpdate = 512;

    struct Config {
        HeadGeometry head;
        double speed = 1.0;  // mechanics speed factor (PTZSIM_SPEED)
    };
    struct Write {
        uint8_t reg;
        uint32_t value;
    };

    Tmc5041Model(const Config& config, std::shared_ptr<FpgaModel> fpga);
    ~Tmc5041Model();
    Tmc5041Model(const Tmc5041Model&) = delete;
    Tmc5041Model& operator=(const Tmc5041Model&) = delete;

    // One 40-bit datagram latched at chip-select release: the reply is what the chip shifted
    // out (status byte and the data of the previous access).
    std::array<uint8_t, 5> reply() const;
    void execute(const std::array<uint8_t, 5>& datagram);

    // The bus the chip sits on: held for a whole message, as the kernel holds the controller.
    std::mutex& bus() { return busMutex; }
    std::chrono::steady_clock::time_point& busFreeAt() { return busFree; }

    // Back door in physical units and register terms.
    uint32_t peek(uint8_t reg);
    double degrees(int axis);
    double microsteps(int axis);
    HeadMechanics::Inputs switches(int axis);
    void place(int axis, int32_t microsteps);
    std::vector<Write> writes();  // the executed writes since the last call (the latest 4096)
    void report(nlohmann::json& state);

    // Fault injection.
    void corruptEchoes(int count);  // the next echoes of written data come back with a bit flipped
    void setDeadBus(bool dead);     // no chip answers: MISO reads all ones, nothing executes
    void setBusError(bool failing); // the controller fails every message
    bool busError() const { return failing.load(); }

    std::chrono::nanoseconds mechanicsCpuTime() const { return std::chrono::nanoseconds(mechanicsCpu.load()); }
    void shutdown();

private:
    bool advanceLocked();
    // Runs f on the state brought up to now; an event met on the way still raises the interrupt.
    template <typename F>
    auto withState(F f) {
        bool event = false;
        decltype(f()) result;
        {
            std::lock_guard lock(mutex);
            event = advanceLocked();
            result = f();
        }
        raise(event);
        return result;
    }
    void reportLocked(nlohmann::json& state);
    uint32_t readLocked(uint8_t reg, bool& event);
    bool writeLocked(uint8_t reg, uint32_t value);
    uint8_t statusLocked() const;
    void raise(bool event);
    void mechanics();

    std::shared_ptr<FpgaModel> fpga;
    const double ticksPerNanosecond;
    const std::chrono::steady_clock::time_point epoch;

    mutable std::mutex mutex;
    std::condition_variable wake;
    HeadMechanics head;
    std::array<Tmc5041Ramp, 2> motors;
    std::array<uint32_t, 128> plain{};  // registers without side effects
    uint64_t ticksDone = 0;
    uint32_t gstat = 1;  // reset flag set at power-up
    uint32_t pending = 0;
    uint8_t status = 0;
    int corruptions = 0;
    bool dead = false;
    bool stopping = false;
    bool written = false;
    std::deque<Write> journal;

    std::atomic<bool> failing{false};
    std::atomic<int64_t> mechanicsCpu{0};
    std::mutex busMutex;
    std::chrono::steady_clock::time_point busFree{};
    std::thread thread;
};

}  // namespace sim
