// What the VISCA inquiry answers read: the head, the zoom, the camera-state words, the input.
#pragma once

#include <cstdint>

#include "control/visca_target.h"

// The zoom as the inquiries see it; raw is the servo's present position (-1 when every read
// failed, 65535 without servo zoom).
struct ZoomReading {
    int raw = 65535;
    int min = 0;
    int max = 0;
    int32_t width = 0;
};

// The zoom settings the block BEC answer carries.
struct ZoomSettings {
    int32_t width = 0;
    int16_t torque_limit = 0;
    uint8_t servo_flags = 0;
    int8_t multiport_mode = 0;
    int8_t reverse = 0;
};

// The camera-state words, each read whole.
struct CameraWords {
    int32_t focus_mode = 2;
    int32_t exposure_mode = 2;
    int32_t wb_mode = 6;
    uint8_t tally_on = 0;
    uint8_t pan_reverse = 0;
    uint8_t tilt_reverse = 0;
    float max_speed_up = 1.0f;
};

struct SignalCodes {
    int video = 0;
    int audio = 0;
};

class InquirySource {
public:
    virtual ~InquirySource() = default;

    virtual HeadLimits headLimits() = 0;
    // XACTUAL of a motor (ViscaTarget::kTiltMotor or kPanMotor).
    virtual int32_t actualPosition(int motor) = 0;
    // True when servo zoom is on but not calibrated: the zoom cannot be reported.
    virtual bool zoomUnknown() = 0;
    virtual ZoomReading readZoom() = 0;
    virtual ZoomSettings zoomSettings() = 0;
    // 2 on, 3 off.
    virtual int cameraPowerGet() = 0;
    virtual CameraWords cameraWords() = 0;
    // Refreshes and returns the video and audio system codes.
    virtual SignalCodes querySignalCodes() = 0;
};
