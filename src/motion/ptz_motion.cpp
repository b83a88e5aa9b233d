#include "motion/ptz_motion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "base/config_parser.h"
#include "base/log.h"
#include "motion/stepper.h"

namespace {
constexpr int kTilt = Stepper::kTilt;
constexpr int kPan = Stepper::kPan;

// Truncation toward zero that stays defined for any float: speeds come from the
// network, and a float outside int's range (or NaN) must not reach the cast.
int truncated(float value) {
    if (std::isnan(value)) return 0;
    return static_cast<int>(std::clamp(value, -1.0e6f, 1.0e6f));
}

// The tilt and pan components of a drive code: tilt 0 none, 1 up, 2 down; pan 0 none, 1 left, 2 right.
struct Components {
    int tilt;
    int pan;
};
constexpr std::array<Components, 9> kComponents = {{{0, 0}, {1, 0}, {2, 0}, {0, 1}, {0, 2},
                                                     {1, 1}, {1, 2}, {2, 1}, {2, 2}}};
constexpr int kCodeOf[3][3] = {{0, 3, 4}, {1, 5, 6}, {2, 7, 8}};
}  // namespace

PtzMotion::PtzMotion(std::shared_ptr<Stepper> stepper_, std::string configPath_)
    : stepper(std::move(stepper_)), configPath(std::move(configPath_)) {}

int PtzMotion::panTiltMove(int free_mode, int direct, int direction, float pan_speed, float tilt_speed) {
    if (stepper->limit_state.load() < 0 && free_mode == 0 && stepper->limit_check.load() == 1) return -1;
    if (free_mode != 0) {
        stepper->limit_check = 1;
        stepper->limit_state = -2;
        stepper->saved_limit_state = -2;
    }
    if (direct != 0) {
        const int pan = std::clamp(truncated(pan_speed), -kMaxIndex, kMaxIndex);
        const int tilt = truncated(tilt_speed);
        const int tiltIndex = (tilt >= -kMaxIndex && tilt <= kMaxIndex) ? std::abs(tilt) : kMaxIndex;
        panTiltDrive(direction, std::abs(pan), tiltIndex, free_mode);
        return 0;
    }
    // Normalised speeds: positive pan is left, positive tilt is up; tilt scales by 23.
    const int p = std::clamp(truncated(pan_speed * 24.0f), -kMaxIndex, kMaxIndex);
    const int t = truncated(tilt_speed * 23.0f);
    const int tiltIndex = (t > kMaxIndex || t < -kMaxIndex) ? kMaxIndex : std::abs(t);
    const int tiltPart = t > 0 ? 1 : (t < 0 ? 2 : 0);
    const int panPart = p > 0 ? 1 : (p < 0 ? 2 : 0);
    const int code = (tiltPart == 0 && panPart == 0) ? kStop : kCodeOf[tiltPart][panPart];
    panTiltDrive(code, std::abs(p), tiltIndex, free_mode);
    return 0;
}

int PtzMotion::applyReverse(int direction) const {
    if (direction < kUp || direction > kDownRight) return direction;
    Components c = kComponents[static_cast<size_t>(direction)];
    if (tilt_reverse.load() != 0 && c.tilt != 0) c.tilt = 3 - c.tilt;
    if (pan_reverse.load() != 0 && c.pan != 0) c.pan = 3 - c.pan;
    return kCodeOf[c.tilt][c.pan];
}

PtzMotion::Limits PtzMotion::homedLimits() const {
    return {stepper->tilt_up.load(), stepper->tilt_down.load(), stepper->pan_left.load(), stepper->pan_right.load()};
}

PtzMotion::Targets PtzMotion::driveTargets(bool free) const {
    if (free) return {kFreeTiltTravel, -kFreeTiltTravel, -kFreePanTravel, kFreePanTravel};
    const Limits l = homedLimits();
    return {l.up - kLimitOffset, l.down + kLimitOffset, l.left + kLimitOffset, l.right - kLimitOffset};
}

// A limit still at 0 has not been found: run in velocity mode until stopped.
void PtzMotion::tiltUp(const Targets& t, const Limits& l, uint32_t velocity) {
    if (l.up == 0)
        stepper->rotate(kTilt, static_cast<int32_t>(velocity));
    else
        stepper->moveAbsolute(kTilt, t.up, velocity);
}

void PtzMotion::tiltDown(const Targets& t, const Limits& l, uint32_t velocity) {
    if (l.down == 0)
        stepper->rotateReverse(kTilt, static_cast<int32_t>(velocity));
    else
        stepper->moveAbsolute(kTilt, t.down, velocity);
}

void PtzMotion::panLeft(const Targets& t, const Limits& l, uint32_t velocity) {
    if (l.left == 0)
        stepper->rotateReverse(kPan, static_cast<int32_t>(velocity));
    else
        stepper->moveAbsolute(kPan, t.left, velocity);
}

void PtzMotion::panRight(const Targets& t, const Limits& l, uint32_t velocity) {
    if (l.right == 0)
        stepper->rotate(kPan, static_cast<int32_t>(velocity));
    else
        stepper->moveAbsolute(kPan, t.right, velocity);
}

int PtzMotion::panTiltDrive(int direction, int pan_index, int tilt_index, int free_mode) {
    const int code = applyReverse(direction);
    logAt(5, "CMD:%d,SPEED(#P %d,#T %d, %d)\n", code, pan_index, tilt_index, free_mode);
    uint32_t tiltVelocity = stepper->speedFromIndex(kTilt, tilt_index);
    uint32_t panVelocity = stepper->speedFromIndex(kPan, pan_index);
    if (free_mode != 0) {
        const uint32_t mode = code == kStop ? tmc5041::kSwitchStopsOn : tmc5041::kSwitchStopsOff;
        stepper->setSwitchMode(kPan, mode);
        stepper->setSwitchMode(kTilt, mode);
        tiltVelocity = stepper->speedFromIndex(kTilt, 12);
        panVelocity = stepper->speedFromIndex(kPan, 20);
    }
    const Targets targets = driveTargets(free_mode != 0);
    switch (code) {
        case kHome: goHome(); return 0;
        case kStop: stopBoth(); return 0;
        case kAbsolute: goAbsolute(targets, tiltVelocity, panVelocity); return 0;
        case kNoOperation: return 0;
        default: return driveDirection(code, targets, tiltVelocity, panVelocity) ? 0 : -1;
    }
}

bool PtzMotion::driveDirection(int code, const Targets& t, uint32_t tiltVelocity, uint32_t panVelocity) {
    if (code < kUp || code > kDownRight) return false;
    const Components c = kComponents[static_cast<size_t>(code)];
    const Limits l = homedLimits();
    // Tilt first, then pan.
    if (c.tilt == 1) tiltUp(t, l, tiltVelocity);
    if (c.tilt == 2) tiltDown(t, l, tiltVelocity);
    if (c.pan == 1) panLeft(t, l, panVelocity);
    if (c.pan == 2) panRight(t, l, panVelocity);
    if (c.tilt != 0) stepper->last_cmd = c.tilt;
    return true;
}

void PtzMotion::goHome() {
    qc_mode = 0;  // ends a QC run
    if (stepper->limit_state.load() != 1) return;
    stepper->moveAbsolute(kTilt, stepper->tilt_center.load(), stepper->speedFromIndex(kTilt, kMaxIndex));
    stepper->moveAbsolute(kPan, stepper->pan_center.load(), stepper->speedFromIndex(kPan, kMaxIndex));
    stepper->zoom().zoomPosAbs(ZoomServo::kScale / 2, 4);
}

void PtzMotion::stopBoth() {
    stepper->stop(kPan);
    stepper->stop(kTilt);
    qc_mode = 0;
}

namespace {
// What an absolute move logs for one axis: beyond its high limit, beyond its low one, or inside.
struct ClampTexts {
    const char* above;
    const char* below;
    const char* inside;
};
constexpr ClampTexts kTiltClampTexts{"#abs_tilt_pos %d > up_limit %d\r\n", "#abs_tilt_pos %d < down_limit %d\r\n",
                                     "#abs_tilt_pos %d <= up_limit %d, abs_tilt_pos %d >= down_limit %d\r\n"};
constexpr ClampTexts kPanClampTexts{"#abs_pan_pos  %d > right_limit %d\r\n", "#abs_pan_pos  %d < left_limit %d\r\n",
                                    "#abs_pan_pos  %d <= right_limit %d, abs_pan_pos  %d >= left_limit %d\r\n"};

// The decoder accepts destinations up to 256 microsteps beyond the drive targets;
// the last 255 of them are pulled back onto the targets.
int32_t clampToTargets(int64_t goal, int32_t high, int32_t low, const ClampTexts& texts) {
    const auto shown = static_cast<int32_t>(goal);
    if (goal > high && goal - high <= PtzMotion::kAbsoluteClamp) {
        logAt(5, texts.above, shown, high);
        return high;
    }
    if (goal < low && low - goal <= PtzMotion::kAbsoluteClamp) {
        logAt(5, texts.below, shown, low);
        return low;
    }
    logAt(5, texts.inside, shown, high, shown, low);
    return shown;
}
}  // namespace

void PtzMotion::goAbsolute(const Targets& t, uint32_t tiltVelocity, uint32_t panVelocity) {
    stepper->last_cmd = kAbsolute;
    if (stepper->limit_state.load() != 1) return;
    stepper->moveAbsolute(kTilt, clampToTargets(stepper->tilt_target.load(), t.up, t.down, kTiltClampTexts),
                          tiltVelocity);
    stepper->moveAbsolute(kPan, clampToTargets(stepper->pan_target.load(), t.right, t.left, kPanClampTexts),
                          panVelocity);
    logAt(5, "\r\n");
}

void PtzMotion::configWrite(int32_t code) {
    try {
        configParser config(configPath);
        switch (code) {
            case 0x2010: {
                char text[64];
                std::snprintf(text, sizeof text, "%f", static_cast<double>(max_speed_up.load()));
                config.setValue("PtzMaxSpeedUp", text);
                logAt(5, "PtzMaxSpeedUp %f write ok.\n", static_cast<double>(max_speed_up.load()));
                break;
            }
            case 0x200E: {
                const bool on = pan_reverse.load() != 0;
                config.setValue("PAN_REVERSE", on ? "true" : "false");
                logAt(5, "%s", on ? "pan true write ok.\n" : "pan false write ok.\n");
                break;
            }
            case 0x200F: {
                const bool on = tilt_reverse.load() != 0;
                config.setValue("TILT_REVERSE", on ? "true" : "false");
                logAt(5, "%s", on ? "tilt true write ok.\n" : "tilt false write ok.\n");
                break;
            }
            default: logAt(5, "pan/tilt reverse failed.\n");
        }
    } catch (const std::exception& error) {
        // The setting stays unsaved; the queue thread carries on.
        logAt(2, "%s\n", error.what());
    }
}
