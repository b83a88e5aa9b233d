// The HDMI receiver on the HTTP API: POST /hdmi with `fail` (every i2c transfer to it fails,
// as a receiver that hangs on the bus) or `answer`.
#pragma once

#include "sim/http/state_api.h"
#include "sim/status/hdmi_receiver.h"

namespace sim {

void addHdmiRoutes(StateApi& api, HdmiReceiver& receiver);

}  // namespace sim
