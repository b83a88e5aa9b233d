// ptz: what the queue thread does with the zoom and preset codes.
#include "control/ptz.h"
#include "motion/stepper.h"

bool ptz::executeZoomOrPreset(const PtzCommand& c) {
    ZoomServo& zoom = stepper->zoom();
    // Servo zoom: bit 0 of the flags. Without it the camera's own zoom is driven (LANC or the
    // MultiPort adapter); with an uncalibrated servo continuous zoom does nothing.
    const bool servoZoom = (stepper->servo_flags.load() & 1) != 0;
    const bool driveable = servoZoom && zoom.zoom_ready.load() != 0;
    switch (c.code) {
        case VISCA_PTZ_ZOOM_STOP:
        case VISCA_PTZ_ZOOM_TELE: {
            const int s = static_cast<int8_t>(integerOf(c.arg1));
            if (!servoZoom) camera->lancZoomDrive(s, 1, c.arg1);
            else if (driveable) zoom.zoomDrive(s, 1, c.arg1);
            return true;
        }
        case VISCA_PTZ_ZOOM_WIDE: {
            const int s = static_cast<int8_t>(-integerOf(c.arg1));
            if (!servoZoom) camera->lancZoomDrive(s, 1, static_cast<float>(s));
            else if (driveable) zoom.zoomDrive(s, 1, static_cast<float>(s));
            return true;
        }
        case NDI_ZOOM_SPEED:
        case NDI_ZOOM_SPEED_STOP:
            if (!servoZoom) camera->lancZoomDrive(0, 0, c.arg1);
            else if (driveable) zoom.zoomDrive(0, 0, c.arg1);
            return true;
        case NDI_ZOOM:
            if (driveable) zoom.zoomPosAbsNormalized(c.arg1);
            return true;
        case VISCA_PTZ_ZOOM_ABSOLUTE_POS: zoom.zoomPosAbs(integerOf(c.arg1), integerOf(c.arg2)); return true;
        case VISCA_PTZ_ZOOM_RELATIVE_POS: zoom.zoomPosRel(integerOf(c.arg1), integerOf(c.arg2)); return true;
        case VISCA_PTZ_ZOOM_TORQUE:
            if (servoZoom) zoom.setZoomTorqueLimit(integerOf(c.arg1));
            return true;
        case VISCA_PTZ_ZOOM_DIRECTION:
            if (servoZoom) zoom.setZoomDirection(integerOf(c.arg1));
            return true;
        case VISCA_PTZ_ZOOM_RESTART: return true;  // the decoder did the work
        case VISCA_PTZ_MEMORY_SET:
        case NDI_STORE_PRESET: presetOps->PreSave(integerOf(c.arg1), 0); return true;
        case VISCA_PTZ_MEMORY_RECALL: presetOps->PreReCall(integerOf(c.arg1), 1, c.arg2); return true;
        case NDI_RECALL_PRESET: presetOps->PreReCall(integerOf(c.arg1), 0, c.arg2); return true;
        case VISCA_PTZ_MEMORY_RESET: presetOps->presetClear(integerOf(c.arg1)); return true;
        default: return false;
    }
}
