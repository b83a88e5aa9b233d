#include "sim/motion/motion_settings.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace sim {

namespace {
const char* env(const char* name) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? value : nullptr;
}

[[noreturn]] void bad(const char* name, const char* rule) {
    throw std::runtime_error(std::string("ptzcam-sim: ") + name + " " + rule);
}

// A whole number in microsteps; `end` gets the rest of the text.
long microsteps(const char* name, const char* text, const char** end, const char* rule) {
    char* stop = nullptr;
    const long value = std::strtol(text, &stop, 10);
    if (stop == text || value < -100000000 || value > 100000000) bad(name, rule);
    *end = stop;
    return value;
}
}  // namespace

void readMotionEnvironment(HeadGeometry& head, double& speed) {
    if (const char* text = env("PTZSIM_PAN_SWITCHES")) {
        const char* rule = "must be L,R in microsteps with L <= 0 <= R";
        const char* rest = nullptr;
        const long left = microsteps("PTZSIM_PAN_SWITCHES", text, &rest, rule);
        if (*rest != ',') bad("PTZSIM_PAN_SWITCHES", rule);
        const long right = microsteps("PTZSIM_PAN_SWITCHES", rest + 1, &rest, rule);
        if (*rest != '\0' || left > 0 || right < 0 || left == right) bad("PTZSIM_PAN_SWITCHES", rule);
        head.panLeft = static_cast<int32_t>(left);
        head.panRight = static_cast<int32_t>(right);
    }
    if (const char* text = env("PTZSIM_TILT_SWITCH")) {
        const char* rule = "must be U in microsteps with U >= 0";
        const char* rest = nullptr;
        const long up = microsteps("PTZSIM_TILT_SWITCH", text, &rest, rule);
        if (*rest != '\0' || up < 0) bad("PTZSIM_TILT_SWITCH", rule);
        head.tiltUp = static_cast<int32_t>(up);
    }
    if (const char* text = env("PTZSIM_TILT_WIRING")) {
        const std::string wiring = text;
        if (wiring != "old" && wiring != "new") bad("PTZSIM_TILT_WIRING", "must be old or new");
        head.oldTiltWiring = wiring == "old";
    }
    if (const char* text = env("PTZSIM_BROKEN_SWITCH")) {
        const std::string which = text;
        using Broken = HeadGeometry::Broken;
        if (which == "pan_left")
            head.broken = Broken::panLeft;
        else if (which == "pan_right")
            head.broken = Broken::panRight;
        else if (which == "tilt")
            head.broken = Broken::tilt;
        else
            bad("PTZSIM_BROKEN_SWITCH", "must be pan_left, pan_right or tilt");
    }
    if (const char* text = env("PTZSIM_SPEED")) {
        char* stop = nullptr;
        const double value = std::strtod(text, &stop);
        if (*stop != '\0' || !(value >= 0.01 && value <= 1000)) bad("PTZSIM_SPEED", "must be a number from 0.01 to 1000");
        speed = value;
    }
}

}  // namespace sim
