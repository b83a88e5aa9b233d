// The raw window's buffer ring.
#include "media/buffer_ring.h"

uint32_t buffer_ring::alloc(uint32_t bytes) {
    // 64-bit arithmetic: a window near the top of the address space must not wrap around.
    const uint64_t size = (uint64_t{bytes} + granule - 1) / granule * granule;
    const uint64_t end = uint64_t{raw_base} + raw_size;
    if (size == 0 || size > raw_size) return no_buffer;
    if (raw_next + size > end) raw_next = raw_base;
    const auto address = static_cast<uint32_t>(raw_next);
    raw_next += size;
    return address;
}
