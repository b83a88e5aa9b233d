// The zoom servo's simulation settings from PTZSIM_SERVO and PTZSIM_ZOOM_TRAVEL.
#pragma once

namespace sim {

struct ServoSettings {
    bool present = true;  // PTZSIM_SERVO=present|none
    // PTZSIM_ZOOM_TRAVEL: servo steps between the mechanical ends. The calibration measures a
    // width of 7952 - travel (it centres at one end, then reads the other end's position
    // against 10000), so 3976 makes the measured width equal the travel and the range
    // symmetric about the servo's centre; 3951..7851 keep the calibrated range inside the ends.
    int zoomTravel = 3976;
};

// Reads the variables that are set; throws std::runtime_error with a message on a bad value.
void readServoEnvironment(ServoSettings& settings);

}  // namespace sim
