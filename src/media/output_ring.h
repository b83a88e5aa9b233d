// Output areas of the encoder cores, handed out in ring order from reserved memory.
#pragma once

#include <cstdint>

class output_ring {
public:
    static constexpr uint32_t granule = 4096;
    static constexpr uint32_t no_area = 0xffffffffu;

    output_ring(uint32_t base, uint32_t size) : out_base(base), out_size(size), out_next(base) {}

    // The offset of the next area of at least `bytes`; no_area when the ring cannot hold one.
    uint32_t alloc(uint64_t bytes);
    uint64_t next() const { return out_next; }

    // Bytes a picture's output takes: n = (w + 16)(h + 16) / 2 per slice, four slices.
    static uint32_t slice_bytes(int32_t width, int32_t height);

private:
    uint32_t out_base;
    uint32_t out_size;
    uint64_t out_next;
};
