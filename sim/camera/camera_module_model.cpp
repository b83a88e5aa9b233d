#include "sim/camera/camera_module_model.h"

#include <algorithm>

#include <nlohmann/json.hpp>

namespace sim {

namespace {
constexpr uint8_t kKeyType = 0x18;
constexpr uint8_t kSpecialType = 0x28;
constexpr uint8_t kPowerOffKey = 0x5E;
constexpr uint8_t kRecordKey = 0x33;
constexpr uint8_t kFocusToggle = 0x41;
constexpr uint8_t kExposureToggle = 0xAF;
constexpr uint8_t kIrisOpen = 0x53;
constexpr uint8_t kIrisClose = 0x55;
constexpr uint8_t kFocusFar = 0x45;
constexpr uint8_t kFocusNear = 0x47;
constexpr uint8_t kWideBase = 16;
constexpr uint32_t kSwitch = 1u << 0;
constexpr uint32_t kOffSense = 1u << 1;
// Lens units a second for each step of LANC speed.
constexpr double kUnitsPerSpeed = 250.0;
constexpr int kSteadyFocusSpeed = 2;

uint8_t typeOf(uint32_t word) { return byteOf(word, 0); }
uint8_t codeOf(uint32_t word) { return byteOf(word, 1); }
}  // namespace

CameraModuleModel::CameraModuleModel(const CameraSettings& settings_) : settings(settings_), lastAdvance(Clock::now()) {
    state.on = settings.startsOn;
    state.zoom = 0;
    state.focus = kLensTop / 2;
    state.iris = kIrisTop / 2;
    focusExact = state.focus;
}

void CameraModuleModel::advance(Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - lastAdvance).count();
    lastAdvance = now;
    if (state.on) {
        zoomExact = std::clamp(zoomExact + zoomRate * seconds, 0.0, static_cast<double>(kLensTop));
        focusExact = std::clamp(focusExact + focusRate * seconds, 0.0, static_cast<double>(kLensTop));
        state.zoom = static_cast<int>(zoomExact);
        state.focus = static_cast<int>(focusExact);
    }
    if (turnsOn && now >= *turnsOn) {
        state.on = true;
        turnsOn.reset();
    }
    if (turnsOff && now >= *turnsOff) {
        state.on = false;
        zoomRate = focusRate = 0;
        turnsOff.reset();
    }
}

void CameraModuleModel::lensRates(uint32_t word) {
    zoomRate = focusRate = 0;
    if (!state.on || typeOf(word) != kSpecialType) return;
    const uint8_t code = codeOf(word);
    const bool zoomCode = code % 2 == 0 && code > 0 && code < 2 * kWideBase && code != kWideBase;
    if (zoomCode && code < kWideBase) zoomRate = kUnitsPerSpeed * (code / 2);
    else if (zoomCode) zoomRate = -kUnitsPerSpeed * ((code - kWideBase) / 2);
    else if (code == kFocusFar) focusRate = kUnitsPerSpeed * kSteadyFocusSpeed;
    else if (code == kFocusNear) focusRate = -kUnitsPerSpeed * kSteadyFocusSpeed;
    else if ((code & 0xF0) == 0xE0) focusRate = kUnitsPerSpeed * (code & 0x0F) / 2;
    else if ((code & 0xF0) == 0xF0) focusRate = -kUnitsPerSpeed * (code & 0x0F) / 2;
}

// A new command word: keys and toggles act once.
void CameraModuleModel::press(uint32_t word, Clock::time_point now) {
    const uint8_t code = codeOf(word);
    if (typeOf(word) == kKeyType) {
        ++state.keys;
        if (code == kPowerOffKey && !settings.stuck && !turnsOff) turnsOff = now + settings.powerOffDelay;
        if (code == kRecordKey) state.recording = !state.recording;
        return;
    }
    if (typeOf(word) != kSpecialType) return;
    if (code == kFocusToggle) state.autoFocus = !state.autoFocus;
    if (code == kExposureToggle) state.autoExposure = !state.autoExposure;
    if (code == kIrisOpen) state.iris = std::min(state.iris + 1, kIrisTop);
    if (code == kIrisClose) state.iris = std::max(state.iris - 1, 0);
}

void CameraModuleModel::onWrite(uint32_t reg, uint32_t, uint32_t newValue, uint32_t) {
    std::lock_guard lock(mutex);
    const auto now = Clock::now();
    advance(now);
    if (reg == kLanc && newValue != standing) {
        standing = newValue;
        if (typeOf(newValue) != 0) {
            state.lanc = newValue;
            if (state.on) press(newValue, now);
        }
        lensRates(newValue);
    } else if (reg == kPower) {
        const bool pressed = (newValue & kSwitch) != 0 && (powerWord & kSwitch) == 0;
        powerWord = newValue;
        if (pressed && !state.on && !settings.stuck && !turnsOn) turnsOn = now + settings.powerOnDelay;
    }
}

std::optional<uint32_t> CameraModuleModel::onRead(uint32_t reg) {
    if (reg != kPower) return std::nullopt;
    std::lock_guard lock(mutex);
    advance(Clock::now());
    return (powerWord & ~kOffSense) | (state.on ? 0u : kOffSense);
}

CameraModuleModel::View CameraModuleModel::view() {
    std::lock_guard lock(mutex);
    advance(Clock::now());
    return state;
}

void CameraModuleModel::report(nlohmann::json& out) {
    const View v = view();
    auto& camera = out["camera"];
    camera["power"] = v.on ? "on" : "off";
    camera["lanc"] = v.lanc;
    camera["zoom"] = v.zoom;
    camera["focus"] = v.focus;
    camera["iris"] = v.iris;
    camera["auto_focus"] = v.autoFocus;
    camera["auto_exposure"] = v.autoExposure;
    camera["recording"] = v.recording;
    camera["keys"] = v.keys;
}

}  // namespace sim
