// ptz: what the VISCA inquiries read (the viscaPTZ thread; every word is read whole).
#include "control/ptz.h"
#include "control/signal_codes.h"
#include "media/track.h"
#include "motion/stepper.h"

bool ptz::zoomUnknown() {
    return (stepper->servo_flags.load() & 1) != 0 && stepper->zoom().zoom_ready.load() == 0;
}

ZoomReading ptz::readZoom() {
    ZoomServo& zoom = stepper->zoom();
    ZoomReading reading;
    if ((stepper->servo_flags.load() & 1) != 0) reading.raw = zoom.presentPosition();
    reading.min = zoom.zoom_min.load();
    reading.max = zoom.zoom_max.load();
    reading.width = zoom.zoom_width.load();
    return reading;
}

ZoomSettings ptz::zoomSettings() {
    ZoomServo& zoom = stepper->zoom();
    return {zoom.zoom_width.load(), zoom.zoom_torque_limit.load(), stepper->servo_flags.load(),
            stepper->multiport_mode.load(), zoom.zoom_reverse.load()};
}

int ptz::cameraPowerGet() { return camera->cameraPowerGet(); }

CameraWords ptz::cameraWords() {
    const PtzMotion& m = *motionOps;
    return {focus_mode.load(),    exposure_mode.load(), wb_mode.load(),         tally_on.load(),
            m.pan_reverse.load(), m.tilt_reverse.load(), m.max_speed_up.load()};
}

// Without a tracking input (-X) the codes come from an empty format.
SignalCodes ptz::querySignalCodes() {
    int width = 0, height = 0, interlaced = 0, rate = 0, audioRate = 0;
    if (signal) {
        signal->get_video_summary(width, height, interlaced, rate);
        signal->get_audio_rate(audioRate);
    }
    // The tracking input measures interlaced sources by their field rate; the codes go by frames.
    if (interlaced != 0) rate /= 2;
    video_system = videoSystemCode(width, height, interlaced, rate);
    audio_system = audioSystemCode(audioRate);
    return {video_system.load(), audio_system.load()};
}
