// The NDI stand-in on the HTTP API: its /state keys and the observer's injection routes.
#pragma once

#include <memory>

#include "sim/ndi/ndi_standin.h"
#include "sim/http/state_api.h"

namespace sim {

// POST /ndi/metadata (body: the XML a receiver would send) and
// POST /ndi/tally?program=0|1&preview=0|1.
void addNdiRoutes(StateApi& api, std::shared_ptr<NdiStandIn> ndi);

}  // namespace sim
