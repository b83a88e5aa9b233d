// The compressed frame record for a captured picture: stream, geometry, coded width and FourCC.
#pragma once

#include <memory>

#include "media/compressed_video_frame.h"
#include "media/video_capture.h"

// 4:2:0 widths are cut to a multiple of 64; 4:2:2 widths that are not one are cut to a multiple of
// 16 and flagged with pad_width.
std::shared_ptr<compressed_video_frame> make_compressed_record(const video_capture::frame_t& captured);
