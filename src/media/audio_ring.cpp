// The audio buffer ring in area 3.
#include "media/audio_ring.h"

uint32_t audio_ring::take(uint32_t bytes) {
    // 64-bit sums: an area at the top of the address space must not wrap around.
    const uint64_t end = uint64_t{ring_base} + ring_size;
    if (uint64_t{ring_next} + bytes > end) ring_next = ring_base;
    const uint32_t offset = ring_next;
    ring_next += bytes;
    return offset;
}
