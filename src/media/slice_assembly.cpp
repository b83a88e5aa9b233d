// Slice trimming and payload assembly.
#include "media/slice_assembly.h"

#include <cstring>
#include <memory>

namespace slice_assembly {

uint32_t trimmed_length(const uint8_t* slice, uint32_t produced) {
    if (produced == 0) return 0;
    if (slice[produced - 1] != 0) return produced;
    for (uint32_t j = produced - 1; j-- > 0;)
        if (slice[j] != 0) return j + 1 + ((slice[j] & 0x80) ? 1 : 0);
    return 0;
}

int collect(compressed_video_frame& frame, const std::array<uint32_t, 4>& produced, int cores, uint8_t* area) {
    const int per_core = 4 / cores;
    frame.header[0] = uint8_t(frame.quality);
    frame.header[1] = 4;
    frame.header[2] = frame.header[3] = 0;
    std::memset(frame.trailer, 0, sizeof frame.trailer);
    frame.size = 4;
    int overflows = 0;
    uint8_t* core_start = area;
    uint8_t* p = area;
    for (int i = 0; i < 4; ++i) {
        const uint32_t s = produced[size_t(i)];
        // 64-bit sums: a wild size from the core must not wrap into the area.
        const uint64_t used = uint64_t(p - core_start) + s;
        uint32_t length = 0;
        if (s > frame.core_area || used > frame.core_area) {
            ++overflows;
        } else {
            length = trimmed_length(p, s);
            if (length > 0) {
                p[0] = uint8_t(length);
                p[1] = uint8_t(length >> 8);
                p[2] = uint8_t(length >> 16);
            }
        }
        frame.slice_len[i] = length;
        frame.slice_ptr[i] = p;
        frame.size += length;
        if (i + 1 < 4 && (i + 1) / per_core == i / per_core) {
            if (used <= frame.core_area) p += s;
        } else {
            core_start += frame.core_area;
            p = core_start;
        }
    }
    frame.size += 4;
    return overflows;
}

void assemble(compressed_video_frame& frame) {
    uint32_t total = 8;
    for (uint32_t length : frame.slice_len) total += length;
    frame.data = std::make_unique_for_overwrite<uint8_t[]>(total);
    uint8_t* out = frame.data.get();
    std::memcpy(out, frame.header, 4);
    out += 4;
    for (int i = 0; i < 4; ++i) {
        if (frame.slice_len[i] == 0) continue;
        std::memcpy(out, frame.slice_ptr[i], frame.slice_len[i]);
        out += frame.slice_len[i];
    }
    std::memcpy(out, frame.trailer, 4);
    out += 4;
    frame.size = uint32_t(out - frame.data.get());
}

}  // namespace slice_assembly
