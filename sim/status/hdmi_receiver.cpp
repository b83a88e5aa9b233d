// The receiver's registers as the source and the driver's writes make them.
#include "sim/status/hdmi_receiver.h"

#include <algorithm>

#include <nlohmann/json.hpp>

namespace sim {

namespace {
constexpr uint8_t kStatus = 0x10, kAudioStatus = 0x15, kControl = 0x05, kOutput = 0x20, kColourIn = 0xae;
constexpr uint8_t kAudioReset = 0x04, kVideoReset = 0x80;
}  // namespace

HdmiReceiver::HdmiReceiver(VideoInput& input) : source(input.current()), lockStart(clock::now()) {
    input.listen([this](const InputFormat& format) { inputChanged(format); });
}

void HdmiReceiver::inputChanged(const InputFormat& format) {
    std::lock_guard lock(mutex);
    source = format;
    lockStart = clock::now();  // a new source: the receiver locks again from scratch
    outputPulse = outputRunning = false;
}

bool HdmiReceiver::locked(clock::time_point now) const { return source.present && now - lockStart >= lockTime; }

bool HdmiReceiver::beginTransfer() {
    std::lock_guard lock(mutex);
    ++transferCount;
    if (failing == 0) return true;
    if (failing > 0) --failing;
    ++errorCount;
    return false;
}

bool HdmiReceiver::i2cWrite(const uint8_t* data, size_t length) {
    if (length == 0) return true;
    std::lock_guard lock(mutex);
    pointer = data[0];
    for (size_t i = 1; i < length; ++i) writeLocked(pointer++, data[i]);
    return true;
}

bool HdmiReceiver::i2cRead(uint8_t* data, size_t length) {
    std::lock_guard lock(mutex);
    const auto now = clock::now();
    for (size_t i = 0; i < length; ++i) data[i] = readLocked(pointer++, now);
    return true;
}

void HdmiReceiver::writeLocked(uint8_t reg, uint8_t value) {
    const uint8_t old = regs[reg];
    regs[reg] = value;
    if (reg == kControl) {
        if (value & kAudioReset) audioFaults = 0;
        if (value & kVideoReset && !(old & kVideoReset)) {
            lockStart = clock::now();
            outputPulse = outputRunning = false;
        }
    } else if (reg == kOutput) {
        if (value & 0x80) {
            outputPulse = locked(clock::now());
        } else if (outputPulse) {
            outputRunning = true;
            outputPulse = false;
        }
    }
}

uint8_t HdmiReceiver::timing(uint8_t reg) const {
    const int hTotal = source.hTotal, hActive = source.width;
    const int vTotal = source.fieldTotal(), vActive = source.fieldHeight();
    switch (reg) {
        case 0x58: return source.interlaced ? 0x02 : 0x00;
        case 0x59: return static_cast<uint8_t>(hTotal);
        case 0x5a: return static_cast<uint8_t>((hActive >> 8 & 0x0f) << 4 | (hTotal >> 8 & 0x0f));
        case 0x5b: return static_cast<uint8_t>(hActive);
        case 0x5f: return static_cast<uint8_t>(vTotal);
        case 0x60: return static_cast<uint8_t>((vActive >> 8 & 0x0f) << 4 | (vTotal >> 8 & 0x0f));
        case 0x61: return static_cast<uint8_t>(vActive);
        case 0x64:
            if (clockUnreadable || source.pixelKhz == 0) return 0;
            return static_cast<uint8_t>(std::min(255, (3456000 + source.pixelKhz / 2) / source.pixelKhz));
        default: return 0;
    }
}

uint8_t HdmiReceiver::readLocked(uint8_t reg, clock::time_point now) const {
    const bool stable = locked(now);
    switch (reg) {
        case kStatus: return static_cast<uint8_t>((source.present ? 0x02 : 0) | (stable ? 0x04 : 0));
        case kAudioStatus: return static_cast<uint8_t>(stable ? audioFaults : 0);
        case kColourIn: return static_cast<uint8_t>(source.present ? static_cast<uint8_t>(colour) : 0);
        case 0x58: case 0x59: case 0x5a: case 0x5b: case 0x5f: case 0x60: case 0x61: case 0x64:
            return stable ? timing(reg) : 0;
        default: return regs[reg];
    }
}

void HdmiReceiver::setColour(Colour c) {
    std::lock_guard lock(mutex);
    colour = c;
}

void HdmiReceiver::failTransfers(int count) {
    std::lock_guard lock(mutex);
    failing = count;
}

void HdmiReceiver::setLockTime(std::chrono::milliseconds time) {
    std::lock_guard lock(mutex);
    lockTime = time;
}

void HdmiReceiver::setClockUnreadable(bool unreadable) {
    std::lock_guard lock(mutex);
    clockUnreadable = unreadable;
}

void HdmiReceiver::raiseAudioFault() {
    std::lock_guard lock(mutex);
    audioFaults = 0x18;
}

uint8_t HdmiReceiver::registerValue(uint8_t reg) {
    std::lock_guard lock(mutex);
    return regs[reg];
}

std::string HdmiReceiver::stateName() {
    std::lock_guard lock(mutex);
    if (!source.present) return "no_signal";
    if (!locked(clock::now())) return "detected";
    return outputRunning ? "running" : "stable";
}

uint64_t HdmiReceiver::transfers() {
    std::lock_guard lock(mutex);
    return transferCount;
}

uint64_t HdmiReceiver::transferErrors() {
    std::lock_guard lock(mutex);
    return errorCount;
}

void HdmiReceiver::report(nlohmann::json& state) {
    const std::string name = stateName();
    std::lock_guard lock(mutex);
    auto& hdmi = state["hdmi"];
    hdmi["state"] = name;
    hdmi["format"] = (source.present && locked(clock::now())) ? source.name : "none";
    hdmi["colour"] = colour == Colour::rgb ? "RGB" : colour == Colour::ycbcr444 ? "YCbCr444" : "YCbCr422";
    hdmi["i2c_transfers"] = transferCount;
    hdmi["i2c_errors"] = errorCount;
}

}  // namespace sim
