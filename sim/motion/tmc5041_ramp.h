// One motor of the TMC5041 model: its ramp generator, reference switch logic, latches and RAMP_STAT.
#pragma once

#include <cstdint>

#include "sim/motion/head_mechanics.h"

namespace sim {

class Tmc5041Ramp {
public:
    // Register offsets within the motor's block (base 0x20 or 0x40).
    enum Offset : uint8_t {
        RAMPMODE = 0x00, XACTUAL = 0x01, VACTUAL = 0x02, VSTART = 0x03, A1 = 0x04, V1 = 0x05, AMAX = 0x06,
        VMAX = 0x07, DMAX = 0x08, D1 = 0x0A, VSTOP = 0x0B, TZEROWAIT = 0x0C, XTARGET = 0x0D,
        IHOLD_IRUN = 0x10, VCOOLTHRS = 0x11, VHIGH = 0x12, SW_MODE = 0x14, RAMP_STAT = 0x15, XLATCH = 0x16,
        kBlock = 0x17
    };

    Tmc5041Ramp(HeadMechanics& head, int axis);

    // Register access; true when the access raised a motion event.
    bool write(uint8_t offset, uint32_t value);
    uint32_t read(uint8_t offset, bool& event);  // clear-on-read bits clear here
    uint32_t peek(uint8_t offset) const;         // no side effects

    // Runs the ramp for a number of velocity-update periods; true when a motion event happened.
    bool advance(uint64_t ticks);
    // Nothing would change without a register write.
    bool resting() const;

    bool velocityReached() const;
    bool stopLeftActive() const { return inLeft; }
    int32_t position() const { return static_cast<int32_t>(pos >> HeadMechanics::kFineShift); }
    int32_t velocity() const { return static_cast<int32_t>(vel >> 8); }

private:
    int commandedDirection() const;
    bool blocked() const;
    bool sample();
    bool checkStops();
    void clearStopEvents();
    bool updateInputs();
    bool step();
    uint64_t bulkTicks(uint64_t limit) const;
    void stepPositioning();
    void stepVelocity();
    void softStop();
    int64_t targetFine() const;
    int64_t decelRate(int64_t speed) const;
    int64_t accelRate(int64_t speed) const;
    double brakingDistance(int64_t speed) const;
    uint32_t rampStatus() const;

    HeadMechanics& head;
    int axis;
    uint32_t regs[kBlock] = {};
    int64_t pos = 0;  // XACTUAL in 2^-23 microsteps
    int64_t vel = 0;  // VACTUAL in 1/256 units
    bool inLeft = false, inRight = false;
    bool latchLeft = false, latchRight = false;
    bool eventStopLeft = false, eventStopRight = false;
    bool eventReached = false, reached = false;
    uint32_t xlatch = 0;
};

}  // namespace sim
