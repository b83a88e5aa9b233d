// What the VISCA decoder reads from and asks of the PTZ service; the service implements it.
#pragma once

#include <cstdint>

#include "control/ptz_command.h"

// Homed limits and axis homes, in microsteps.
struct HeadLimits {
    int32_t pan_center = 0;
    int32_t tilt_center = 0;
    int32_t pan_left = 0;
    int32_t pan_right = 0;
    int32_t tilt_up = 0;
    int32_t tilt_down = 0;
};

class ViscaTarget {
public:
    static constexpr int kTiltMotor = 0;
    static constexpr int kPanMotor = 1;

    virtual ~ViscaTarget() = default;

    // Into the command ring (the service's pushCommand).
    virtual void pushCommand(const PtzCommand& command) = 0;

    // The Stepper's limit_state: 1 once the limits are homed.
    virtual int limitState() = 0;
    virtual HeadLimits headLimits() = 0;
    // XACTUAL of a motor (kTiltMotor or kPanMotor).
    virtual int32_t actualPosition(int motor) = 0;
    // The Stepper's pan_target and tilt_target, read when the position command runs.
    virtual void setPositionTargets(int32_t pan_target, int32_t tilt_target) = 0;

    // Recall speed byte of a preset record (index 0..9).
    virtual uint8_t presetSpeed(int index) = 0;
    virtual void setPresetSpeed(int index, uint8_t speed) = 0;

    // The Stepper's zoomLimitRestart and the service's detectMultiPort: 0 when nothing was found.
    virtual int zoomLimitRestart() = 0;
    virtual int detectMultiPort() = 0;
};
