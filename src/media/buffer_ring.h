// Picture buffers handed out in ring order from the raw video window.
#pragma once

#include <cstdint>

class buffer_ring {
public:
    static constexpr uint32_t no_buffer = 0xffffffffu;
    static constexpr uint32_t granule = 0x100000;  // buffers start on 1 MiB boundaries

    buffer_ring(uint32_t base, uint32_t size) : raw_base(base), raw_size(size), raw_next(base) {}

    // The physical address of the next buffer of at least `bytes`; no_buffer when the
    // window cannot hold one that large. Older buffers are reused without tracking.
    uint32_t alloc(uint32_t bytes);

    uint32_t base() const { return raw_base; }
    uint32_t size() const { return raw_size; }
    uint64_t next() const { return raw_next; }

private:
    uint32_t raw_base;
    uint32_t raw_size;
    uint64_t raw_next;  // may reach 4 GiB when the window ends there
};
