// A physical memory region shared between the processor and the FPGA.
#pragma once

#include <sys/mman.h>

#include <cstdint>

struct memory_region {
    uint32_t physical = 0;
    uint32_t size = 0;
    void* mapped = MAP_FAILED;

    bool is_mapped() const { return mapped != MAP_FAILED; }
};

// An (offset, size) pair, or a (physical address, size) pair for the raw window.
struct address_range {
    uint32_t offset = 0;
    uint32_t size = 0;

    bool operator==(const address_range&) const = default;
};
