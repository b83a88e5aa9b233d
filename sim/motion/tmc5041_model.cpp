#include "sim/motion/tmc5041_model.h"

#include <algorithm>

#include <time.h>

#include <nlohmann/json.hpp>

#include "platform/thread_name.h"

namespace sim {

namespace {
// Enough for any one check between two reads; a virtual camera that never reads it stays small.
constexpr size_t kJournalLimit = 4096;
constexpr auto kMovingSlice = std::chrono::milliseconds(1);

// Datagram byte 0: the write flag above the address.
constexpr uint8_t kWriteFlag = 0x80, kAddress = 0x7F;

// Registers outside the motor blocks, motors numbered 1 and 2 as in the data sheet.
enum Register : uint8_t {
    GCONF = 0x00, GSTAT = 0x01, REG_03 = 0x03, INPUT = 0x04, X_COMPARE = 0x05,
    PWMCONF1 = 0x10, PWM_STATUS1 = 0x11, PWMCONF2 = 0x18, PWM_STATUS2 = 0x19,
    MSLUT0 = 0x60, MSLUTSTART = 0x69,
    MSCNT1 = 0x6A, MSCURACT1 = 0x6B, CHOPCONF1 = 0x6C, COOLCONF1 = 0x6D, DRV_STATUS1 = 0x6F,
    MSCNT2 = 0x7A, MSCURACT2 = 0x7B, CHOPCONF2 = 0x7C, COOLCONF2 = 0x7D, DRV_STATUS2 = 0x7F,
};
// GSTAT bits, also the low bits of the SPI status byte.
constexpr uint32_t kReset = 1u << 0, kDrvErr1 = 1u << 1, kDrvErr2 = 1u << 2;
// SPI status byte bit numbers.
constexpr int kVelocityReached1 = 3, kVelocityReached2 = 4, kStatusStopL1 = 5, kStatusStopL2 = 6;
// INPUT bits 31..24.
constexpr uint32_t kVersion = 0x10;
constexpr int kVersionShift = 24;
constexpr uint32_t kMscntMask = 0x3FF;  // 10 bits
constexpr uint32_t kStst = 1u << 31;     // DRV_STATUS: standstill
// Motor blocks: motor 1 at 0x20, motor 2 at 0x40; the offset is the low five bits.
constexpr uint8_t kMotorBase[2] = {0x20, 0x40};
constexpr uint8_t kOffsetMask = 0x1F;

// Registers outside the motor blocks: readable, writable, or both.
enum Access : uint8_t { kNone = 0, kRead = 1, kWrite = 2, kBoth = 3 };

Access plainAccess(uint8_t reg) {
    switch (reg) {
        case GCONF: case CHOPCONF1: case CHOPCONF2: return kBoth;
        case GSTAT: case INPUT: case PWM_STATUS1: case PWM_STATUS2: case MSCNT1: case MSCURACT1:
        case DRV_STATUS1: case MSCNT2: case MSCURACT2: case DRV_STATUS2: return kRead;
        case REG_03: case X_COMPARE: case PWMCONF1: case PWMCONF2: case COOLCONF1: case COOLCONF2: return kWrite;
        default: return (reg >= MSLUT0 && reg <= MSLUTSTART) ? kWrite : kNone;  // MSLUT[0..7], MSLUTSEL, MSLUTSTART
    }
}

int motorOf(uint8_t reg) {
    for (int m = 0; m < 2; ++m)
        if (reg >= kMotorBase[m] && reg < kMotorBase[m] + Tmc5041Ramp::kBlock) return m;
    return -1;
}

uint8_t offsetOf(uint8_t reg) { return static_cast<uint8_t>(reg & kOffsetMask); }

int64_t threadCpuNanoseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}
}  // namespace

Tmc5041Model::Tmc5041Model(const Config& config, std::shared_ptr<FpgaModel> fpga_)
    : fpga(std::move(fpga_)),
      ticksPerNanosecond(config.speed * kClockHz / kClocksPerUpdate / 1e9),
      epoch(std::chrono::steady_clock::now()),
      head(config.head),
      motors{Tmc5041Ramp(head, 0), Tmc5041Ramp(head, 1)},
      thread([this] { mechanics(); }) {}

Tmc5041Model::~Tmc5041Model() { shutdown(); }

void Tmc5041Model::shutdown() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (thread.joinable()) thread.join();
}

bool Tmc5041Model::advanceLocked() {
    const auto elapsed = std::chrono::steady_clock::now() - epoch;
    const auto due = static_cast<uint64_t>(static_cast<double>(elapsed.count()) * ticksPerNanosecond);
    if (due <= ticksDone) return false;
    // Catch up at most 100 ms at a time: when the host cannot keep pace (a sanitizer,
    // a loaded machine) the mechanics fall behind real time instead of spending ever
    // longer catching up while the bus waits.
    const auto most = static_cast<uint64_t>(1e8 * ticksPerNanosecond) + 1;
    const uint64_t ticks = std::min(due - ticksDone, most);
    ticksDone = due;
    bool event = false;
    for (auto& m : motors) event |= m.advance(ticks);
    return event;
}

void Tmc5041Model::raise(bool event) {
    if (event) fpga->line(kMotionLine).raise();
}

std::array<uint8_t, 5> Tmc5041Model::reply() const {
    std::lock_guard lock(mutex);
    if (dead) return {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    return {status, static_cast<uint8_t>(pending >> 24), static_cast<uint8_t>(pending >> 16),
            static_cast<uint8_t>(pending >> 8), static_cast<uint8_t>(pending)};
}

void Tmc5041Model::execute(const std::array<uint8_t, 5>& d) {
    bool event = false;
    {
        std::lock_guard lock(mutex);
        if (dead) return;
        event = advanceLocked();
        const uint8_t reg = d[0] & kAddress;
        const uint32_t data = uint32_t{d[1]} << 24 | uint32_t{d[2]} << 16 | uint32_t{d[3]} << 8 | d[4];
        if (d[0] & kWriteFlag) {
            event |= writeLocked(reg, data);
            // The shift register hands back what was written; a fault may flip one bit of it.
            pending = data;
            if (corruptions > 0) {
                --corruptions;
                pending ^= 0x00000100;
            }
            if (journal.size() == kJournalLimit) journal.pop_front();
            journal.push_back({reg, data});
            written = true;
        } else {
            bool readEvent = false;
            pending = readLocked(reg, readEvent);
            event |= readEvent;
        }
        status = statusLocked();
    }
    wake.notify_all();
    raise(event);
}

uint32_t Tmc5041Model::readLocked(uint8_t reg, bool& event) {
    event = false;
    const int motor = motorOf(reg);
    if (motor >= 0) return motors[static_cast<size_t>(motor)].read(offsetOf(reg), event);
    if (!(plainAccess(reg) & kRead)) return 0;
    switch (reg) {
        case GSTAT: {
            const uint32_t value = gstat;
            gstat = 0;
            return value;
        }
        case INPUT: return kVersion << kVersionShift;
        case MSCNT1: case MSCNT2: return static_cast<uint32_t>(motors[reg == MSCNT2].position()) & kMscntMask;
        case DRV_STATUS1: case DRV_STATUS2: return motors[reg == DRV_STATUS2].velocity() == 0 ? kStst : 0;
        default: return plain[reg];
    }
}

bool Tmc5041Model::writeLocked(uint8_t reg, uint32_t value) {
    const int motor = motorOf(reg);
    if (motor >= 0) return motors[static_cast<size_t>(motor)].write(offsetOf(reg), value);
    if (plainAccess(reg) & kWrite) plain[reg] = value;
    return false;
}

uint8_t Tmc5041Model::statusLocked() const {
    return static_cast<uint8_t>((gstat & (kReset | kDrvErr1 | kDrvErr2)) |
                                uint32_t{motors[0].velocityReached()} << kVelocityReached1 |
                                uint32_t{motors[1].velocityReached()} << kVelocityReached2 |
                                uint32_t{motors[0].stopLeftActive()} << kStatusStopL1 |
                                uint32_t{motors[1].stopLeftActive()} << kStatusStopL2);
}

void Tmc5041Model::mechanics() {
    set_thread_name("sim:tmc5041");
    std::unique_lock lock(mutex);
    while (!stopping) {
        const bool event = advanceLocked();
        const bool moving = !motors[0].resting() || !motors[1].resting();
        written = false;
        if (event) {
            lock.unlock();
            raise(true);
            lock.lock();
        }
        mechanicsCpu = threadCpuNanoseconds();
        // While a motor moves, look often enough to raise its events promptly; at rest, sleep
        // until a register write.
        if (moving)
            wake.wait_for(lock, kMovingSlice, [this] { return stopping; });
        else
            wake.wait(lock, [this] { return stopping || written; });
    }
}

uint32_t Tmc5041Model::peek(uint8_t reg) {
    return withState([&] {
        const int motor = motorOf(reg & kAddress);
        if (motor >= 0) return motors[static_cast<size_t>(motor)].peek(offsetOf(reg));
        return reg == GSTAT ? gstat : plain[reg & kAddress];
    });
}

double Tmc5041Model::degrees(int axis) {
    return withState([&] { return head.degrees(axis); });
}

double Tmc5041Model::microsteps(int axis) {
    return withState([&] { return head.microsteps(axis); });
}

HeadMechanics::Inputs Tmc5041Model::switches(int axis) {
    return withState([&] { return head.inputs(axis); });
}

void Tmc5041Model::place(int axis, int32_t microsteps) {
    withState([&] {
        head.place(axis, microsteps);
        return 0;
    });
}

std::vector<Tmc5041Model::Write> Tmc5041Model::writes() {
    std::lock_guard lock(mutex);
    std::vector<Write> list(journal.begin(), journal.end());
    journal.clear();
    return list;
}

void Tmc5041Model::corruptEchoes(int count) {
    std::lock_guard lock(mutex);
    corruptions = count;
}

void Tmc5041Model::setDeadBus(bool dead_) {
    std::lock_guard lock(mutex);
    dead = dead_;
}

void Tmc5041Model::setBusError(bool failing_) { failing = failing_; }

void Tmc5041Model::report(nlohmann::json& state) {
    withState([&] {
        reportLocked(state);
        return 0;
    });
}

void Tmc5041Model::reportLocked(nlohmann::json& state) {
    const char* names[2] = {"tilt", "pan"};
    for (int axis = 0; axis < 2; ++axis) {
        const auto& m = motors[static_cast<size_t>(axis)];
        const auto inputs = head.inputs(axis);
        auto& s = state[names[axis]];
        s["xactual"] = static_cast<int32_t>(m.peek(Tmc5041Ramp::XACTUAL));
        s["xtarget"] = static_cast<int32_t>(m.peek(Tmc5041Ramp::XTARGET));
        s["vactual"] = m.velocity();
        s["rampmode"] = m.peek(Tmc5041Ramp::RAMPMODE);
        s["switch_left"] = inputs.left;
        s["switch_right"] = inputs.right;
        s["angle_deg"] = head.degrees(axis);
        s["sw_mode"] = m.peek(Tmc5041Ramp::SW_MODE);
        s["ihold_irun"] = m.peek(Tmc5041Ramp::IHOLD_IRUN);
    }
}

}  // namespace sim
