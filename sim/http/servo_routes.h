// The zoom servo on the HTTP API: POST /servo with `silent` (it stops answering) or `answer`.
#pragma once

#include "sim/http/state_api.h"
#include "sim/motion/servo_line.h"

namespace sim {

// line: null when no servo is fitted (the route then answers 404).
void addServoRoutes(StateApi& api, ServoLine* line);

}  // namespace sim
