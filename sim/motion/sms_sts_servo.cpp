#include "sim/motion/sms_sts_servo.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace sim {

namespace {
constexpr uint8_t kPing = 1, kRead = 2, kWrite = 3, kDeferred = 4, kAction = 5, kSyncRead = 0x82, kSyncWrite = 0x83;
constexpr uint8_t kBroadcast = 0xFE;
// Memory map.
constexpr uint8_t kId = 5, kBaud = 6, kLevel = 8, kMinLimit = 9, kMaxLimit = 11, kMaxTorque = 16, kOffset = 31,
                  kMode = 33, kTorqueEnable = 40, kAcceleration = 41, kGoal = 42, kGoalSpeed = 46, kTorqueLimit = 48,
                  kLock = 55, kPresent = 56, kSpeed = 58, kLoad = 60, kVoltage = 62, kTemperature = 63, kMoving = 66,
                  kTarget = 67, kCurrent = 69, kLastPresent = 70;
constexpr int kBauds[8] = {1000000, 500000, 250000, 128000, 115200, 76800, 57600, 38400};

uint16_t signMagnitude(int value, int bit) {
    const int limit = (1 << bit) - 1;
    const int magnitude = std::min(std::abs(value), limit);
    return static_cast<uint16_t>(value < 0 ? magnitude | (1 << bit) : magnitude);
}
int fromSignMagnitude(int raw, int bit) { return (raw & (1 << bit)) ? -(raw & ((1 << bit) - 1)) : raw; }
int sign(double v) { return v > 0 ? 1 : (v < 0 ? -1 : 0); }
}  // namespace

SmsStsServo::SmsStsServo(const Config& config_) : config(config_), epoch(Clock::now()) {
    lowEnd = kCentre - config.travel / 2.0;
    highEnd = kCentre + config.travel / 2.0;
    regs[kId] = config.id;
    regs[kBaud] = 4;  // 115200
    regs[kLevel] = 1;
    setWord(kMinLimit, 0);
    setWord(kMaxLimit, 4095);
    setWord(kMaxTorque, 1000);
    regs[21] = 32;
    regs[22] = 32;
    setWord(kTorqueLimit, 1000);
    regs[kLock] = 1;
    regs[kVoltage] = 120;
    regs[kTemperature] = 30;
    refreshPresent();
}

uint16_t SmsStsServo::word(uint8_t address) const {
    return static_cast<uint16_t>(regs[address] | regs[static_cast<uint8_t>(address + 1)] << 8);
}

void SmsStsServo::setWord(uint8_t address, uint16_t value) {
    regs[address] = static_cast<uint8_t>(value & 0xFF);
    regs[static_cast<uint8_t>(address + 1)] = static_cast<uint8_t>(value >> 8);
}

int SmsStsServo::presentPosition() const { return static_cast<int>(std::lround(raw)) - offsetSteps; }

int SmsStsServo::baudRate() {
    std::lock_guard lock(mutex);
    return regs[kBaud] < 8 ? kBauds[regs[kBaud]] : 0;
}

void SmsStsServo::advanceTo(Clock::time_point when) {
    const double now = std::chrono::duration<double>(when - epoch).count() * config.speed;
    if (now > modelTime) {
        double left = now - modelTime;
        modelTime = now;
        // Millisecond slices while anything moves; nothing to integrate at rest.
        while (left > 0 && !atRest()) {
            const double h = std::min(left, 0.001);
            step(h);
            left -= h;
        }
    }
    if (atRest()) {
        velocity = 0;
        const double d = targetRaw - raw;
        const bool pushing = regs[kTorqueEnable] != 0 && std::abs(d) >= 0.5;
        load = pushing ? sign(d) * static_cast<int>(word(kTorqueLimit)) : 0;
    }
}

// Standing still for good: no torque, at the target, or held by an end or a torque too weak to turn the ring.
bool SmsStsServo::atRest() const {
    if (regs[kTorqueEnable] == 0) return true;
    if (velocity != 0) return false;
    const double d = targetRaw - raw;
    if (std::abs(d) < 0.5) return true;
    if (word(kTorqueLimit) < kFreeLoad) return true;
    return (d < 0 && raw <= lowEnd) || (d > 0 && raw >= highEnd);
}

void SmsStsServo::step(double h) {
    const int goalSpeed = word(kGoalSpeed) & 0x7FFF;  // the direction comes from the target
    const double vmax = goalSpeed == 0 ? kTopSpeed : std::min<double>(goalSpeed, kTopSpeed);
    const double a = regs[kAcceleration] == 0 ? std::numeric_limits<double>::infinity() : regs[kAcceleration] * 100.0;
    const double d = targetRaw - raw;
    // Slow enough to stop at the target.
    const double desired = sign(d) * std::min(vmax, std::sqrt(2 * a * std::abs(d)));
    const double change = std::isinf(a) ? desired - velocity : std::clamp(desired - velocity, -a * h, a * h);
    velocity += change;
    double next = raw + velocity * h;
    if (sign(targetRaw - next) != sign(d) || std::abs(targetRaw - next) < 0.5) {
        next = targetRaw;
        velocity = 0;
    }
    if (next <= lowEnd) {
        next = lowEnd;
        velocity = 0;
    } else if (next >= highEnd) {
        next = highEnd;
        velocity = 0;
    }
    raw = next;
    load = velocity == 0 ? 0 : sign(velocity) * std::min<int>(kFreeLoad, word(kTorqueLimit));
}

void SmsStsServo::refreshPresent() {
    setWord(kPresent, signMagnitude(presentPosition(), 15));
    setWord(kSpeed, signMagnitude(static_cast<int>(std::lround(velocity)), 15));
    setWord(kLoad, signMagnitude(load, 10));
    regs[kMoving] = velocity != 0 ? 1 : 0;
    setWord(kTarget, signMagnitude(static_cast<int>(std::lround(targetRaw)) - offsetSteps, 15));
    setWord(kCurrent, static_cast<uint16_t>(std::abs(load) * 3));  // 6.5 mA a count; about 2 A at full torque
}

void SmsStsServo::applyWrite(uint8_t address, const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n && address + i < regs.size(); ++i) {
        const size_t a = address + i;
        if (a >= kPresent && a <= kLastPresent) continue;  // read-only
        regs[a] = data[i];
    }
    auto covers = [&](uint8_t reg) { return address <= reg && reg < address + n; };
    if (covers(kTorqueLimit) || covers(kTorqueLimit + 1)) setWord(kTorqueLimit, std::min<uint16_t>(word(kTorqueLimit), 1000));
    if (covers(kOffset) || covers(kOffset + 1)) offsetSteps = fromSignMagnitude(word(kOffset) & 0x0FFF, 11);
    if (covers(kMode)) {
        targetRaw = raw;  // a new mode starts by holding where it is
        velocity = 0;
    }
    if (covers(kTorqueEnable)) {
        const uint8_t value = regs[kTorqueEnable];
        if (value & 0x80) {
            // The present position becomes the centre; the offset keeps it there.
            offsetSteps = static_cast<int>(std::lround(raw)) - kCentre;
            const int folded = ((offsetSteps % 4096) + 4096 + 2048) % 4096 - 2048;
            setWord(kOffset, static_cast<uint16_t>(signMagnitude(folded, 11)));
            targetRaw = raw;
        }
        regs[kTorqueEnable] = value & 1;
        if (regs[kTorqueEnable] == 0) velocity = 0;
        else if (!(value & 0x80)) targetRaw = raw;
    }
    if (covers(kGoal) || covers(kGoal + 1)) {
        const int goal = fromSignMagnitude(word(kGoal), 15);
        if (regs[kMode] == 3) {
            targetRaw = raw + goal;  // step mode: a number of steps from here
        } else {
            int absolute = goal;
            const int low = word(kMinLimit), high = word(kMaxLimit);
            if (low != 0 || high != 0) absolute = std::clamp(absolute, low, high);
            targetRaw = absolute + offsetSteps;
        }
        regs[kTorqueEnable] = 1;  // a goal switches the torque on
    }
}

std::vector<uint8_t> SmsStsServo::status(const uint8_t* data, size_t n) {
    std::vector<uint8_t> reply = {0xFF, 0xFF, regs[kId], static_cast<uint8_t>(n + 2), 0};
    for (size_t i = 0; i < n; ++i) reply.push_back(data[i]);
    unsigned sum = 0;
    for (size_t i = 2; i < reply.size(); ++i) sum += reply[i];
    reply.push_back(static_cast<uint8_t>(~sum));
    return reply;
}

std::vector<uint8_t> SmsStsServo::handle(const std::vector<uint8_t>& p, Clock::time_point when) {
    std::lock_guard lock(mutex);
    if (p.size() < 6 || p[0] != 0xFF || p[1] != 0xFF || p[3] + 4u != p.size()) return {};
    unsigned sum = 0;
    for (size_t i = 2; i + 1 < p.size(); ++i) sum += p[i];
    if (static_cast<uint8_t>(~sum) != p.back()) return {};
    const uint8_t id = p[2];
    const bool broadcast = id == kBroadcast;
    if (!broadcast && id != regs[kId]) return {};
    advanceTo(when);
    refreshPresent();
    const uint8_t instruction = p[4];
    const uint8_t* params = p.data() + 5;
    const size_t count = p.size() - 6;
    const bool acknowledge = !broadcast && regs[kLevel] != 0;
    switch (instruction) {
        case kPing: return status(nullptr, 0);
        case kRead: {
            if (broadcast || count != 2 || params[0] + params[1] > 256) return {};
            return status(regs.data() + params[0], params[1]);
        }
        case kWrite:
            if (count < 1) return {};
            applyWrite(params[0], params + 1, count - 1);
            advanceTo(when);
            refreshPresent();
            return acknowledge ? status(nullptr, 0) : std::vector<uint8_t>{};
        case kDeferred:
            if (count < 1) return {};
            deferred.assign(params, params + count);
            return acknowledge ? status(nullptr, 0) : std::vector<uint8_t>{};
        case kAction:
            if (!deferred.empty()) applyWrite(deferred[0], deferred.data() + 1, deferred.size() - 1);
            deferred.clear();
            refreshPresent();
            return acknowledge ? status(nullptr, 0) : std::vector<uint8_t>{};
        case kSyncWrite: {
            if (!broadcast || count < 2) return {};
            const uint8_t address = params[0], length = params[1];
            for (size_t at = 2; at + 1 + length <= count; at += 1 + length)
                if (params[at] == regs[kId]) applyWrite(address, params + at + 1, length);
            refreshPresent();
            return {};
        }
        case kSyncRead: {
            if (!broadcast || count < 2 || params[0] + params[1] > 256) return {};
            for (size_t at = 2; at < count; ++at)
                if (params[at] == regs[kId]) return status(regs.data() + params[0], params[1]);
            return {};
        }
        default: return {};
    }
}

SmsStsServo::State SmsStsServo::state(Clock::time_point when) {
    std::lock_guard lock(mutex);
    advanceTo(when);
    refreshPresent();
    return {presentPosition(),
            fromSignMagnitude(word(kTarget), 15),
            static_cast<int>(std::lround(velocity)),
            load,
            regs[kMoving],
            regs[kMode],
            word(kTorqueLimit),
            regs[kTorqueEnable],
            offsetSteps,
            raw - lowEnd};
}

uint8_t SmsStsServo::peek(uint8_t address) {
    std::lock_guard lock(mutex);
    advanceTo(Clock::now());
    refreshPresent();
    return regs[address];
}

void SmsStsServo::report(nlohmann::json& out) {
    const State s = state();
    auto& zoom = out["zoom"];
    zoom["present"] = true;
    zoom["position"] = s.position;
    zoom["target"] = s.target;
    zoom["speed"] = s.speed;
    zoom["load"] = s.load;
    zoom["moving"] = s.moving;
    zoom["mode"] = s.mode;
    zoom["torque_limit"] = s.torqueLimit;
    zoom["torque_enable"] = s.torqueEnable;
    zoom["offset"] = s.offset;
    zoom["travel_position"] = s.physical;
}

}  // namespace sim
