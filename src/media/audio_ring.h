// Audio buffers handed out in ring order from their area of reserved memory.
#pragma once

#include <cstdint>

class audio_ring {
public:
    audio_ring(uint32_t base, uint32_t size) : ring_base(base), ring_size(size), ring_next(base) {}

    // Offset of the next buffer of `bytes`. A buffer that would run past the end of the area
    // starts again at its base; one that ends exactly at the end stays where it is. Older
    // buffers are reused without tracking: the sender's short queue keeps them out of reach.
    uint32_t take(uint32_t bytes);

    uint32_t base() const { return ring_base; }
    uint32_t size() const { return ring_size; }
    uint32_t next() const { return ring_next; }

private:
    uint32_t ring_base;
    uint32_t ring_size;
    uint32_t ring_next;
};
