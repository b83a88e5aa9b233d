// One SpeedHQ-compressed picture on its way from the encoder cores to the NDI sender
// (the compressor's frame_t).
#pragma once

#include <cstdint>
#include <memory>

struct compressed_video_frame {
    int32_t stream = 0;  // 0 full, 1 preview
    int32_t is_420 = 0;
    int32_t pad_width = 0;
    int32_t width = 0, height = 0, stride = 0;
    int32_t rate_n = 0, rate_d = 0;
    uint32_t fourcc = 0;
    int64_t timecode = 0;
    int32_t field = 2;  // 0 first field, 1 second field, 2 progressive
    int32_t quality = 0;
    int32_t qslot = 0;
    uint32_t out_offset = 0xffffffffu;
    uint32_t core_area = 0;
    uint32_t slice_len[4] = {};
    uint8_t header[4] = {};
    uint8_t trailer[4] = {};
    uint8_t* slice_ptr[4] = {};
    std::unique_ptr<uint8_t[]> data;  // the assembled payload
    uint32_t size = 4;
};
