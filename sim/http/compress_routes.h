// The encoder cores and the sent video on the HTTP API: /state "compress" keys and the latest
// frame of each stream, as the NDI payload and decoded to PNG.
#pragma once

#include <memory>

#include "sim/media/capture_engines.h"
#include "sim/media/encoder_cores.h"
#include "sim/ndi/ndi_standin.h"
#include "sim/http/state_api.h"

namespace sim {

// GET /ndi/video/full, /ndi/video/preview (payload; X-FourCC, X-Width, X-Height, X-Frame-Rate N/D,
// X-Frame-Format, X-Timecode) and their .png variants.
void addCompressRoutes(StateApi& api, std::shared_ptr<EncoderCores> cores, std::shared_ptr<NdiStandIn> ndi,
                       CaptureEngines& capture);

}  // namespace sim
