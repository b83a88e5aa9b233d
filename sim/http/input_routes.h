// The simulated HDMI source on the HTTP API: POST /input changes it while the camera runs.
#pragma once

#include "sim/http/state_api.h"
#include "sim/media/video_input.h"

namespace sim {

// POST /input with a format text as body (400 for an unknown format).
void addInputRoutes(StateApi& api, VideoInput& source);

}  // namespace sim
