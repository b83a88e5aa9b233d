#include "motion/camera_module.h"

#include <algorithm>
#include <cmath>

#include "base/log.h"
#include "hw/hardware.h"
#include "motion/multi_port.h"

namespace {
using std::chrono::milliseconds;
constexpr milliseconds kKeyHold{100};
constexpr milliseconds kAdapterGap{300};
constexpr milliseconds kFocusModeHold{500};
constexpr milliseconds kExposureHold{1000};
constexpr uint8_t kPowerOffCode = 0x5E;
constexpr uint8_t kRecordCode = 0x33;
constexpr uint8_t kKeyB4Code = 0xB4;
constexpr uint8_t kFocusToggle = 0x41;
constexpr uint8_t kFocusFar = 0x45;
constexpr uint8_t kFocusNear = 0x47;
constexpr uint8_t kExposureToggle = 0xAF;
constexpr uint8_t kIrisUp = 0x53;
constexpr uint8_t kIrisDown = 0x55;
constexpr int kTopSpeed = 7;
constexpr uint8_t kWideBase = 16;

// Zoom and focus speeds leave the front-ends in 0..7 (integer) or -1..1 (float); anything wider is cut.
int clampedSpeed(int speed) { return std::clamp(speed, -kTopSpeed, kTopSpeed); }
int scaledSpeed(float speed_f) {
    if (std::isnan(speed_f)) return 0;
    return static_cast<int>(std::clamp(speed_f, -1.0f, 1.0f) * static_cast<float>(kTopSpeed));
}
char digit(int value) { return static_cast<char>('0' + value); }
}  // namespace

CameraModule::CameraModule(std::shared_ptr<hardware> hw_, const std::atomic<int8_t>& multiport_mode_,
                           const std::atomic<uint8_t>& servo_flags_, MultiPort& adapter_)
    : hw(std::move(hw_)), multiport_mode(multiport_mode_), servo_flags(servo_flags_), adapter(adapter_) {}

void CameraModule::stop() {
    {
        std::lock_guard lock(wait_mutex);
        stopping = true;
    }
    wake.notify_all();
}

bool CameraModule::pause(milliseconds duration) {
    std::unique_lock lock(wait_mutex);
    return !wake.wait_for(lock, duration, [this] { return stopping.load(); });
}

// A head with a zoom servo has no LANC camera; with the adapter LANC is not used.
void CameraModule::lancCommand(uint8_t type, uint8_t code) {
    if (adapterMode() || (servo_flags.load() & 1) != 0) return;
    hw->write32(kBlock, kLancRegister, static_cast<uint32_t>(type) | (static_cast<uint32_t>(code) << 8));
}

void CameraModule::hold(uint8_t type, uint8_t code, milliseconds duration) {
    lancCommand(type, code);
    pause(duration);
    release();
}

void CameraModule::adapterKeys(char first, char firstCode, char secondCode, milliseconds gap) {
    adapter.sendKey(first, firstCode);
    pause(gap);
    adapter.sendKey(first, secondCode);
}

void CameraModule::lancPulse(uint8_t code) {
    if (adapterMode()) return;
    hold(kKeyType, code, kKeyHold);
}

uint32_t CameraModule::readPower() { return hw->read32(kBlock, kPowerRegister); }

int CameraModule::cameraPowerGet() {
    if (!adapterMode() && (readPower() & kPowerOff) != 0) {
        logAt(5, "GET:Camera Power Off\n");
        return kOffAnswer;
    }
    logAt(5, "GET:Camera Power On\n");
    return kOn;
}

void CameraModule::cameraPowerSet(std::atomic<int32_t>& requested) {
    if (adapterMode()) {
        adapterKeys('P', '0', '1', kAdapterGap);
        requested = 0;
        return;
    }
    const uint32_t sense = readPower();
    if ((sense & kPowerOff) != 0) {
        if (requested.load() == 1) {
            logAt(5, "already power off\n");
            return;
        }
        powerOn(sense);
    } else {
        if (requested.load() == 0) {
            logAt(5, "already power on\n");
            return;
        }
        powerOff();
    }
    // What the sense says, not what was asked: a camera that did not follow keeps its state.
    requested = (readPower() & kPowerOff) != 0 ? 1 : 0;
}

void CameraModule::powerOn(uint32_t sense) {
    release();
    hw->write32(kBlock, kPowerRegister, sense | kPowerPress);
    pause(kPressHold);
    uint32_t last = sense;
    bool on = false;
    for (int poll = 0; poll < kPowerPolls && !on; ++poll) {
        last = readPower();
        on = (last & kPowerOff) == 0;
        if (!on && !pause(kPollPeriod)) break;
    }
    logAt(5, on ? "Camera Power On\n" : "Camera Power On TimeOver\n");
    hw->write32(kBlock, kPowerRegister, last & ~(kPowerPress | kPowerOff));
}

void CameraModule::powerOff() {
    lancCommand(kKeyType, kPowerOffCode);
    bool off = false;
    for (int poll = 0; poll < kPowerPolls && !off; ++poll) {
        off = (readPower() & kPowerOff) != 0;
        if (!off && !pause(kPollPeriod)) break;
    }
    logAt(5, off ? "Camera Power Off\n" : "Camera Power Off TimeOver\n");
    release();
}

void CameraModule::lancZoomDrive(int speed, int integer_form, float speed_f) {
    int code = 0;
    bool stopDrive = false;
    if (integer_form != 0) {
        const int s = clampedSpeed(speed);
        stopDrive = s == 0;
        code = s > 0 ? 2 * s : kWideBase + 2 * -s;
    } else {
        const int s = scaledSpeed(speed_f);
        stopDrive = speed_f == 0.0f || std::isnan(speed_f);
        code = speed_f > 0.0f ? 2 * s : kWideBase + 2 * -s;
    }
    if (adapterMode()) {
        if (stopDrive || code == 0) adapter.sendKey('5', '9');
        else if (code < kWideBase) adapter.sendKey('4', digit(code / 2));
        else adapter.sendKey('5', digit((code - kWideBase) / 2));
        return;
    }
    if (stopDrive) release();
    else lancCommand(kSpecialType, static_cast<uint8_t>(code));
}

void CameraModule::focusMode(int) {
    if (adapterMode()) {
        adapterKeys('2', '0', '1', kAdapterGap);
        return;
    }
    logAt(5, "focusMode %X %X\n", kSpecialType, kFocusToggle);
    hold(kSpecialType, kFocusToggle, kFocusModeHold);
}

void CameraModule::focusSpeed(uint8_t direction) {
    const int nibble = direction >> 4;
    const uint8_t code = nibble == 2 ? kFocusFar : nibble == 3 ? kFocusNear : 0;
    logAt(5, "focusSpeed %X %X\n", code != 0 ? kSpecialType : 0, code);
    if (code != 0) lancCommand(kSpecialType, code);
    else release();
    pause(kKeyHold);
    release();
}

// No release afterwards: the focus keeps moving until the next command.
void CameraModule::focusSpeedVariable(uint8_t value, int integer_form, float speed_f) {
    uint8_t code = 0;
    if (integer_form != 0) {
        const int p = value & 0x0F;
        const int s = p == 0 ? 1 : 2 * std::min(p, 6) - 1;
        const int nibble = value >> 4;
        code = nibble == 2 ? static_cast<uint8_t>(s | 0xE0) : nibble == 3 ? static_cast<uint8_t>(s | 0xF0) : 0;
    } else if (speed_f > 0.0f) {
        code = static_cast<uint8_t>(0xEF + 2 * scaledSpeed(speed_f));
    } else if (speed_f < 0.0f) {
        code = static_cast<uint8_t>(0xDF + 2 * -scaledSpeed(speed_f));
    }
    logAt(5, "focusSpeedVariable %X %X\n", code != 0 ? kSpecialType : 0, code);
    if (code != 0) lancCommand(kSpecialType, code);
    else release();
}

void CameraModule::exposureMode(int) {
    if (adapterMode()) return;
    logAt(5, "exposureMode %X %X\n", kSpecialType, kExposureToggle);
    hold(kSpecialType, kExposureToggle, kExposureHold);
}

void CameraModule::irisSet(uint8_t value, int, float level_f) {
    if (value == 0 && level_f == 0.0f) {
        release();
        return;
    }
    uint8_t code = value;
    if (level_f == kIrisPositionMarker) {
        code = value > iris_position ? kIrisUp : value < iris_position ? kIrisDown : 0;
        iris_position = value;
        if (code == 0) return;
    }
    logAt(5, "irisSet %X %X\n", kSpecialType, code);
    hold(kSpecialType, code, kKeyHold);
}

void CameraModule::cameraRecordKey() {
    if (adapterMode()) adapterKeys('1', '0', '1', kKeyHold);
    else hold(kKeyType, kRecordCode, kKeyHold);
}

void CameraModule::cameraKeyB4() {
    if (adapterMode()) adapterKeys('0', '0', '1', kKeyHold);
    else hold(kKeyType, kKeyB4Code, kKeyHold);
}

void CameraModule::cameraRecord() {
    if (adapterMode()) adapterKeys('3', '0', '1', kAdapterGap);
}

// The camera module has no white-balance control: the reported mode is the ptz's word.
void CameraModule::whiteBalance(int) {}
