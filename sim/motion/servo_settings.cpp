#include "sim/motion/servo_settings.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace sim {

void readServoEnvironment(ServoSettings& settings) {
    if (const char* text = std::getenv("PTZSIM_SERVO"); text != nullptr && *text != '\0') {
        const std::string value = text;
        if (value != "present" && value != "none") throw std::runtime_error("ptzcam-sim: PTZSIM_SERVO must be present or none");
        settings.present = value == "present";
    }
    if (const char* text = std::getenv("PTZSIM_ZOOM_TRAVEL"); text != nullptr && *text != '\0') {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (*end != '\0' || value < 100 || value > 30000)
            throw std::runtime_error("ptzcam-sim: PTZSIM_ZOOM_TRAVEL must be a number of steps from 100 to 30000");
        settings.zoomTravel = static_cast<int>(value);
    }
}

}  // namespace sim
