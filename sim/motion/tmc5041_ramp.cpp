#include "sim/motion/tmc5041_ramp.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {
constexpr int kShift = HeadMechanics::kFineShift;
// RAMPMODE values
constexpr uint32_t kPositioning = 0, kVelocityPositive = 1, kVelocityNegative = 2, kHold = 3;
// SW_MODE bits
constexpr uint32_t kStopLeftEnable = 1u << 0, kStopRightEnable = 1u << 1, kPolLeft = 1u << 2, kPolRight = 1u << 3,
                   kSwap = 1u << 4, kLatchLeftActive = 1u << 5, kLatchLeftInactive = 1u << 6,
                   kLatchRightActive = 1u << 7, kLatchRightInactive = 1u << 8, kSoftStop = 1u << 11;
// RAMP_STAT bit numbers
constexpr int kStatusStopL = 0, kStatusStopR = 1, kStatusLatchL = 2, kStatusLatchR = 3, kEventStopL = 4,
              kEventStopR = 5, kEventPosReached = 7, kVelocityReached = 8, kPositionReached = 9, kVzero = 10;

// The low n bits.
constexpr uint32_t bits(int n) { return n == 32 ? ~0u : (1u << n) - 1; }
// IHOLD_IRUN: IHOLD 5 bits at 0, IRUN 5 bits at 8, IHOLDDELAY 4 bits at 16.
constexpr uint32_t kIholdIrunFields = bits(5) | bits(5) << 8 | bits(4) << 16;
static_assert(kIholdIrunFields == 0x000F1F1F);

constexpr uint32_t mask(uint8_t offset) {
    switch (offset) {
        case Tmc5041Ramp::RAMPMODE: return bits(2);
        case Tmc5041Ramp::VSTART: case Tmc5041Ramp::VSTOP: return bits(18);
        case Tmc5041Ramp::A1: case Tmc5041Ramp::AMAX: case Tmc5041Ramp::DMAX: case Tmc5041Ramp::D1:
        case Tmc5041Ramp::TZEROWAIT: return bits(16);
        case Tmc5041Ramp::V1: return bits(20);
        case Tmc5041Ramp::VMAX: case Tmc5041Ramp::VCOOLTHRS: case Tmc5041Ramp::VHIGH: return bits(23);
        case Tmc5041Ramp::IHOLD_IRUN: return kIholdIrunFields;
        case Tmc5041Ramp::SW_MODE: return bits(12);
        case Tmc5041Ramp::XACTUAL: case Tmc5041Ramp::XTARGET: return bits(32);
        default: return 0;  // read-only or unused
    }
}

int sign(int64_t v) { return (v > 0) - (v < 0); }
}  // namespace

Tmc5041Ramp::Tmc5041Ramp(HeadMechanics& head_, int axis_) : head(head_), axis(axis_) { sample(); }

int64_t Tmc5041Ramp::targetFine() const {
    return static_cast<int64_t>(static_cast<int32_t>(regs[XTARGET])) * (int64_t{1} << kShift);
}

int Tmc5041Ramp::commandedDirection() const {
    switch (regs[RAMPMODE]) {
        case kPositioning: return sign(targetFine() - pos);
        case kVelocityPositive: return regs[VMAX] != 0 ? 1 : 0;
        case kVelocityNegative: return regs[VMAX] != 0 ? -1 : 0;
        default: return 0;
    }
}

bool Tmc5041Ramp::blocked() const {
    const int towards = vel != 0 ? sign(vel) : commandedDirection();
    return (eventStopLeft && towards < 0) || (eventStopRight && towards > 0);
}

bool Tmc5041Ramp::sample() {
    HeadMechanics::Inputs raw = head.inputs(axis);
    const uint32_t sw = regs[SW_MODE];
    if (sw & kSwap) std::swap(raw.left, raw.right);
    // A closed switch pulls its input low; the polarity bit makes low the active level.
    const bool left = (sw & kPolLeft) ? raw.left : !raw.left;
    const bool right = (sw & kPolRight) ? raw.right : !raw.right;
    bool event = false;
    if (left != inLeft) {
        if ((left && (sw & kLatchLeftActive)) || (!left && (sw & kLatchLeftInactive))) {
            xlatch = static_cast<uint32_t>(position());
            latchLeft = true;
        }
        event = true;
    }
    if (right != inRight) {
        if ((right && (sw & kLatchRightActive)) || (!right && (sw & kLatchRightInactive))) {
            xlatch = static_cast<uint32_t>(position());
            latchRight = true;
        }
        event = true;
    }
    inLeft = left;
    inRight = right;
    return event;
}

bool Tmc5041Ramp::checkStops() {
    const uint32_t sw = regs[SW_MODE];
    const int towards = vel != 0 ? sign(vel) : commandedDirection();
    bool event = false;
    if (!eventStopLeft && (sw & kStopLeftEnable) && inLeft && towards < 0) eventStopLeft = event = true;
    if (!eventStopRight && (sw & kStopRightEnable) && inRight && towards > 0) eventStopRight = event = true;
    if (event && !(sw & kSoftStop)) vel = 0;  // hard stop: the position freezes here
    return event;
}

void Tmc5041Ramp::clearStopEvents() {
    // A stop event lasts until hold mode, a move the other way, or its stop is disabled.
    const int command = commandedDirection();
    const bool hold = regs[RAMPMODE] == kHold;
    if (hold || command > 0 || !(regs[SW_MODE] & kStopLeftEnable)) eventStopLeft = false;
    if (hold || command < 0 || !(regs[SW_MODE] & kStopRightEnable)) eventStopRight = false;
}

bool Tmc5041Ramp::write(uint8_t offset, uint32_t value) {
    const uint32_t m = mask(offset);
    if (m == 0) return false;
    if (offset == XACTUAL)
        pos = static_cast<int64_t>(static_cast<int32_t>(value)) * (int64_t{1} << kShift);
    else
        regs[offset] = value & m;
    clearStopEvents();
    bool event = sample();
    event |= checkStops();
    const bool now = regs[RAMPMODE] == kPositioning && vel == 0 && pos == targetFine();
    if (now && !reached) eventReached = event = true;
    reached = now;
    return event;
}

uint32_t Tmc5041Ramp::rampStatus() const {
    const bool atTarget = regs[RAMPMODE] == kPositioning && vel == 0 && pos == targetFine();
    return uint32_t{inLeft} << kStatusStopL | uint32_t{inRight} << kStatusStopR | uint32_t{latchLeft} << kStatusLatchL |
           uint32_t{latchRight} << kStatusLatchR | uint32_t{eventStopLeft} << kEventStopL |
           uint32_t{eventStopRight} << kEventStopR | uint32_t{eventReached} << kEventPosReached |
           uint32_t{velocityReached()} << kVelocityReached | uint32_t{atTarget} << kPositionReached |
           uint32_t{vel == 0} << kVzero;
}

bool Tmc5041Ramp::velocityReached() const {
    const int64_t vmax = int64_t{regs[VMAX]} << 8;
    switch (regs[RAMPMODE]) {
        case kPositioning: return std::llabs(vel) == vmax;
        case kVelocityPositive: return vel == vmax;
        case kVelocityNegative: return vel == -vmax;
        default: return true;
    }
}

uint32_t Tmc5041Ramp::peek(uint8_t offset) const {
    switch (offset) {
        case XACTUAL: return static_cast<uint32_t>(position());
        case VACTUAL: return static_cast<uint32_t>(velocity()) & bits(24);
        case RAMP_STAT: return rampStatus();
        case XLATCH: return xlatch;
        default: return offset < kBlock ? regs[offset] : 0;
    }
}

uint32_t Tmc5041Ramp::read(uint8_t offset, bool& event) {
    event = false;
    switch (offset) {
        case RAMPMODE: case XACTUAL: case VACTUAL: case XTARGET: case SW_MODE: case XLATCH: return peek(offset);
        case RAMP_STAT: {
            const uint32_t status = rampStatus();
            latchLeft = latchRight = eventReached = false;
            return status;
        }
        default: return 0;  // write-only registers read as zero
    }
}

int64_t Tmc5041Ramp::decelRate(int64_t speed) const {
    const int64_t v1 = int64_t{regs[V1]} << 8;
    const uint32_t rate = (v1 != 0 && speed <= v1) ? regs[D1] : regs[DMAX];
    return std::max<int64_t>(rate, 1);
}

int64_t Tmc5041Ramp::accelRate(int64_t speed) const {
    const int64_t v1 = int64_t{regs[V1]} << 8;
    const uint32_t rate = (v1 != 0 && speed < v1) ? regs[A1] : regs[AMAX];
    return std::max<int64_t>(rate, 1);
}

double Tmc5041Ramp::brakingDistance(int64_t speed) const {
    const double s = static_cast<double>(speed);
    const double vstop = static_cast<double>(int64_t{regs[VSTOP]} << 8);
    const double v1 = static_cast<double>(int64_t{regs[V1]} << 8);
    if (s <= vstop) return 0;
    const double dmax = static_cast<double>(std::max<uint32_t>(regs[DMAX], 1));
    const double d1 = static_cast<double>(std::max<uint32_t>(regs[D1], 1));
    if (v1 == 0) return (s * s - vstop * vstop) / (2 * dmax) + s;
    const double knee = std::max(std::min(s, v1), vstop);
    return (s * s - knee * knee) / (2 * dmax) + (knee * knee - vstop * vstop) / (2 * d1) + 2 * s;
}

void Tmc5041Ramp::softStop() {
    if (!(regs[SW_MODE] & kSoftStop)) {
        vel = 0;
        return;
    }
    const int64_t s = std::llabs(vel) - decelRate(std::llabs(vel));
    vel = s <= (int64_t{regs[VSTOP]} << 8) ? 0 : s * sign(vel);
}

void Tmc5041Ramp::stepVelocity() {
    const int64_t target = (int64_t{regs[VMAX]} << 8) * (regs[RAMPMODE] == kVelocityPositive ? 1 : -1);
    const int64_t rate = std::max<int64_t>(regs[AMAX], 1);
    vel = vel < target ? std::min(vel + rate, target) : std::max(vel - rate, target);
}

void Tmc5041Ramp::stepPositioning() {
    const int64_t remaining = targetFine() - pos;
    const int d = sign(remaining);
    if (d == 0 && vel == 0) return;
    const int direction = d != 0 ? d : -sign(vel);
    int64_t s = vel * direction;  // speed towards the target
    const int64_t vmax = int64_t{regs[VMAX]} << 8;
    const int64_t vstart = int64_t{regs[VSTART]} << 8;
    const int64_t vstop = int64_t{regs[VSTOP]} << 8;
    if (vmax == 0) {
        // VMAX 0 stops the move using AMAX/A1.
        const int64_t v = std::llabs(vel) - accelRate(std::llabs(vel));
        vel = v <= 0 ? 0 : v * sign(vel);
        return;
    }
    if (s < 0) {
        s = std::min<int64_t>(s + decelRate(-s), 0);
    } else if (static_cast<double>(std::llabs(remaining)) <= brakingDistance(s) + static_cast<double>(s)) {
        s = s > vstop ? std::max(s - decelRate(s), vstop) : std::max<int64_t>(s, std::max(vstop, vstart));
        if (s == 0) s = accelRate(0);
    } else if (s < vmax) {
        s = std::min(std::max(s, vstart) + accelRate(std::max(s, vstart)), vmax);
    } else if (s > vmax) {
        s = std::max(s - decelRate(s), vmax);
    }
    vel = s * direction;
}

bool Tmc5041Ramp::updateInputs() {
    bool event = sample();
    clearStopEvents();
    event |= checkStops();
    return event;
}

bool Tmc5041Ramp::step() {
    bool event = false;
    if (blocked())
        softStop();
    else if (regs[RAMPMODE] == kPositioning)
        stepPositioning();
    else if (regs[RAMPMODE] != kHold)
        stepVelocity();
    int64_t delta = vel;
    if (regs[RAMPMODE] == kPositioning && !blocked() && vel != 0) {
        const int64_t remaining = targetFine() - pos;
        if (sign(remaining) == sign(vel) && std::llabs(delta) >= std::llabs(remaining)) {
            delta = remaining;  // the move ends exactly on the target
            vel = 0;
        }
    }
    pos += delta;
    head.move(axis, delta);
    const bool now = regs[RAMPMODE] == kPositioning && vel == 0 && pos == targetFine();
    if (now && !reached) eventReached = event = true;
    reached = now;
    return event;
}

uint64_t Tmc5041Ramp::bulkTicks(uint64_t limit) const {
    if (vel == 0 || blocked()) return 0;
    const int64_t speed = std::llabs(vel);
    const int64_t vmax = int64_t{regs[VMAX]} << 8;
    if (regs[RAMPMODE] == kHold) return 0;
    if (regs[RAMPMODE] != kPositioning && vel != vmax * (regs[RAMPMODE] == kVelocityPositive ? 1 : -1)) return 0;
    int64_t n = head.room(axis, sign(vel)) / speed;
    if (regs[RAMPMODE] == kPositioning) {
        const int64_t remaining = targetFine() - pos;
        if (speed != vmax || sign(remaining) != sign(vel)) return 0;
        const double cruise = static_cast<double>(std::llabs(remaining)) - brakingDistance(speed) - 2.0 * speed;
        n = std::min<int64_t>(n, cruise > 0 ? static_cast<int64_t>(cruise / static_cast<double>(speed)) : 0);
    }
    return n > 1 ? std::min<uint64_t>(static_cast<uint64_t>(n - 1), limit) : 0;
}

bool Tmc5041Ramp::advance(uint64_t ticks) {
    bool event = false;
    while (ticks > 0 && !resting()) {
        // Inputs first: a switch met on the last step must stop the motor before any cruise.
        event |= updateInputs();
        if (const uint64_t n = bulkTicks(ticks)) {
            const int64_t delta = vel * static_cast<int64_t>(n);
            pos += delta;
            head.move(axis, delta);
            ticks -= n;
            continue;
        }
        event |= step();
        --ticks;
    }
    return event;
}

bool Tmc5041Ramp::resting() const {
    if (vel != 0) return false;
    if (blocked()) return true;
    switch (regs[RAMPMODE]) {
        case kPositioning: return pos == targetFine();
        case kVelocityPositive: case kVelocityNegative: return regs[VMAX] == 0;
        default: return true;
    }
}

}  // namespace sim
