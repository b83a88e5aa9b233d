// The audio block and the sent audio on the HTTP API: /state "audio" keys of the model,
// POST /audio to change the input's rate, GET /ndi/audio for the latest frame sent.
#pragma once

#include <memory>

#include "sim/http/state_api.h"
#include "sim/media/audio_block.h"
#include "sim/ndi/ndi_standin.h"

namespace sim {

// POST /audio with a rate as body (48000, 44100, 32000, 96000 or none; 400 otherwise).
// GET /ndi/audio: the latest frame's interleaved samples, little-endian 32-bit, with X-Sample-Rate,
// X-Channels, X-Samples, X-Timecode and X-Reference-Level; 404 before the first frame.
void addAudioRoutes(StateApi& api, std::shared_ptr<AudioBlock> block, std::shared_ptr<NdiStandIn> ndi);

}  // namespace sim
