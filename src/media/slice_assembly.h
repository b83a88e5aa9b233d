// Reading the encoder cores' slices back: trimming their padding and assembling the NDI payload.
#pragma once

#include <array>
#include <cstdint>

#include "media/compressed_video_frame.h"

namespace slice_assembly {

// The coded length of a slice of `produced` bytes that a core padded with zero bytes: up to the
// last non-zero byte, plus one zero byte when that byte's top bit is set (the stop bit is there).
uint32_t trimmed_length(const uint8_t* slice, uint32_t produced);

// Fills header, trailer, slice pointers and lengths from the produced sizes; `area` is the host
// view of the frame's output area. A slice that does not lie inside its core's area counts as an
// overflow and is not read. Returns the number of overflowing slices.
int collect(compressed_video_frame& frame, const std::array<uint32_t, 4>& produced, int cores, uint8_t* area);

// Header, the four slices and the trailer, copied once into the frame's own buffer.
void assemble(compressed_video_frame& frame);

}  // namespace slice_assembly
