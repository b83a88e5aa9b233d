// ptz: what the queue thread does with each command code.
#include "control/ptz.h"
#include "motion/stepper.h"

namespace {
bool isPanTiltCode(int32_t code) {
    return (code >= NDI_PT_SPEED && code <= NDI_PT_HOME) || panTiltDirectionOf(code) >= 0;
}
}  // namespace

void ptz::execute(const PtzCommand& command) {
    if (isPanTiltCode(command.code)) {
        executePanTilt(command);
        return;
    }
    if (executeZoomOrPreset(command) || executeCamera(command)) return;
    switch (command.code) {
        case VISCA_PTZ_TALLY:
            tally_on = static_cast<uint8_t>(integerOf(command.arg1) & 0xFF);
            lamp.setTallyLamp(tally_on.load() != 0);
            return;
        case VISCA_PTZ_PAN_REVERSE:
        case VISCA_PTZ_TILT_REVERSE:
        case VISCA_PTZ_RAMP_CURVE: executeSetting(command); return;
        case NDI_WB_AUTO:
        case NDI_WB_INDOOR:
        case NDI_WB_OUTDOOR:
        case NDI_WB_ONE_SHOT:
        case NDI_WB_MANUAL:
        case VISCA_PTZ_WB_AUTO:
        case VISCA_PTZ_WB_INDOOR:
        case VISCA_PTZ_WB_OUTDOOR:
        case VISCA_PTZ_WB_ONE_PUSH:
        case VISCA_PTZ_WB_MANUAL: executeWhiteBalance(command.code); return;
        default:
            // Flip and every unknown code (0 included) are consumed without effect.
            return;
    }
}

void ptz::executePanTilt(const PtzCommand& c) {
    PtzMotion& m = *motionOps;
    switch (c.code) {
        case NDI_PT_SPEED:
        case NDI_PT_SPEED_STOP:
        case NDI_PT_MOVE: m.panTiltMove(0, 0, PtzMotion::kStop, c.arg1, c.arg2); return;
        case NDI_PT_HOME:
        case VISCA_PTZ_HOME:
            m.panTiltMove(0, 1, PtzMotion::kHome, c.arg1, c.arg2);
            if (stepper->servo_flags.load() == 0) detectMultiPort();
            return;
        default: break;
    }
    const int direction = panTiltDirectionOf(c.code);
    if (direction < 0) return;  // 0x2119 and 0x211A are never produced
    m.panTiltMove(isFreeModeCode(c.code) ? 1 : 0, 1, direction, c.arg1, c.arg2);
}

void ptz::executeSetting(const PtzCommand& c) {
    PtzMotion& m = *motionOps;
    switch (c.code) {
        case VISCA_PTZ_PAN_REVERSE:
            m.pan_reverse = c.arg1 != 0 ? 1 : 0;
            m.configWrite(VISCA_PTZ_PAN_REVERSE);
            return;
        case VISCA_PTZ_TILT_REVERSE:
            m.tilt_reverse = c.arg1 != 0 ? 1 : 0;
            m.configWrite(VISCA_PTZ_TILT_REVERSE);
            return;
        default: {
            const int32_t p = integerOf(c.arg1);
            if (p < 0 || p > 6) return;  // 7 is accepted by the decoder but changes nothing
            m.max_speed_up = 1.0f + static_cast<float>(p) * 0.1f;
            stepper->setMaxSpeedUp(m.max_speed_up.load());
            m.configWrite(VISCA_PTZ_RAMP_CURVE);
        }
    }
}

// The camera module takes no white balance (whiteBalance does nothing): the reported mode changes.
void ptz::executeWhiteBalance(int32_t code) {
    switch (code) {
        case NDI_WB_AUTO:
        case VISCA_PTZ_WB_AUTO: camera->whiteBalance(0), wb_mode = 0; return;
        case NDI_WB_INDOOR:
        case VISCA_PTZ_WB_INDOOR: camera->whiteBalance(1), wb_mode = 1; return;
        case NDI_WB_MANUAL:
        case VISCA_PTZ_WB_MANUAL:
            if (wb_mode.load() != 5) camera->whiteBalance(5);
            wb_mode = 5;
            return;
        default:  // outdoor and one push
            camera->whiteBalance(wb_mode.load() == 3 ? 4 : 3);
            wb_mode = 3;
            return;
    }
}
