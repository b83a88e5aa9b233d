// The virtual camera's page for integrators: GET / serves it; POST /visca is the
// camera's own web server's road to the firmware (the local VISCA bridge), which the page uses.
#pragma once

#include "sim/http/state_api.h"
#include "sim/http/visca_bridge_client.h"

namespace sim {

// GET / (the page) and POST /visca (body: a VISCA payload in hex, "82 01 06 04 FF";
// answer: the reply payloads in hex, one a line).
void addDashboardRoutes(StateApi& api, ViscaBridgeClient::Ports bridge = {});

}  // namespace sim
