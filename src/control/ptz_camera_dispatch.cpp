// ptz: what the queue thread does with the camera module's codes, and the state words they set.
#include "control/ptz.h"

namespace {
uint8_t lowByte(float value) { return static_cast<uint8_t>(static_cast<uint32_t>(integerOf(value)) & 0xFF); }

// The LANC key code of each key command.
int keyCode(int32_t code) {
    switch (code) {
        case VISCA_PTZ_MENU: return 0x9A;
        case VISCA_PTZ_KEY_84: return 0x84;
        case VISCA_PTZ_KEY_86: return 0x86;
        case VISCA_PTZ_KEY_C4: return 0xC4;
        case VISCA_PTZ_KEY_C2: return 0xC2;
        case VISCA_PTZ_KEY_A2: return 0xA2;
        default: return -1;
    }
}
}  // namespace

void ptz::focusModeTo(int mode) {
    camera->focusMode(mode);
    focus_mode = mode;
}

void ptz::toggleExposure() {
    exposure_mode = exposure_mode.load() == 0 ? 1 : 0;
    camera->exposureMode(exposure_mode.load());
}

void ptz::executeIris(const PtzCommand& c, int absolute) {
    if (exposure_mode.load() != 1) camera->exposureMode(1);
    camera->irisSet(lowByte(c.arg2), absolute, c.arg1);
    exposure_mode = 1;
}

bool ptz::executeCamera(const PtzCommand& c) {
    if (const int key = keyCode(c.code); key >= 0) {
        camera->lancPulse(static_cast<uint8_t>(key));
        return true;
    }
    switch (c.code) {
        case VISCA_PTZ_FOCUS_AUTO:
        case NDI_FOCUS_AUTO: focusModeTo(0); return true;
        case VISCA_PTZ_FOCUS_MANUAL:
        case NDI_FOCUS_MANUAL: focusModeTo(1); return true;
        case VISCA_PTZ_FOCUS:
            focus_mode = 1;
            camera->focusSpeed(lowByte(c.arg2));
            return true;
        case VISCA_PTZ_FOCUS_VARIABLE:
            focus_mode = 1;
            camera->focusSpeedVariable(lowByte(c.arg2), 1, c.arg1);
            return true;
        case NDI_FOCUS_SPEED:
            focus_mode = 1;
            camera->focusSpeedVariable(0, 0, c.arg1);
            return true;
        case VISCA_PTZ_AE_AUTO:
        case NDI_EXPOSURE_AUTO: toggleExposure(); return true;
        case VISCA_PTZ_IRIS: executeIris(c, 1); return true;
        case NDI_EXPOSURE_MANUAL: executeIris(c, 0); return true;
        case VISCA_PTZ_POWER: {
            const int32_t asked = integerOf(c.arg1);
            cam_power = asked == 2 ? 0 : asked == 3 ? 1 : 2;
            camera->cameraPowerSet(cam_power);
            return true;
        }
        case VISCA_PTZ_MENU_TOGGLE: camera->cameraKeyB4(); return true;
        case VISCA_PTZ_RECORD_2:
        case VISCA_PTZ_RECORD_3: camera->cameraRecordKey(); return true;
        case VISCA_PTZ_KEY30_4:
        case VISCA_PTZ_KEY30_5: camera->cameraRecord(); return true;
        default: return false;
    }
}
