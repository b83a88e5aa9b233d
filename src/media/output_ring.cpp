// The encoder output ring; older areas are reused without tracking, as the senders copy out promptly.
#include "media/output_ring.h"

uint32_t output_ring::alloc(uint64_t bytes) {
    const uint64_t size = (bytes + granule - 1) / granule * granule;
    const uint64_t end = uint64_t{out_base} + out_size;
    if (size == 0 || size > out_size) return no_area;
    if (out_next + size > end) out_next = out_base;
    const auto offset = static_cast<uint32_t>(out_next);
    out_next += size;
    return offset;
}

uint32_t output_ring::slice_bytes(int32_t width, int32_t height) {
    if (width < 0 || height < 0) return 0;
    return uint32_t((uint64_t(width) + 16) * (uint64_t(height) + 16) / 2);
}
