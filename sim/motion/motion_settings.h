// The head's simulation settings from PTZSIM_PAN_SWITCHES, PTZSIM_TILT_SWITCH, PTZSIM_TILT_WIRING,
// PTZSIM_BROKEN_SWITCH, PTZSIM_SPEED.
#pragma once

#include "sim/motion/head_mechanics.h"

namespace sim {

// Reads the variables that are set; throws std::runtime_error with a message on a bad value.
void readMotionEnvironment(HeadGeometry& head, double& speed);

}  // namespace sim
