// A model's own mapping of a stretch of physical memory (the raw window, the reserved region).
#pragma once

#include <cstdint>

#include "sim/fpga/physical_memory.h"

namespace sim {

struct RawWindow {
    uint8_t* base = nullptr;  // the model's mapping
    uint32_t physical = 0;
    uint32_t size = 0;
};

// Maps the window for its own life.
class MemoryWindow {
public:
    MemoryWindow(PhysicalMemory& memory_, uint32_t physical, uint32_t size)
        : memory(memory_), window{static_cast<uint8_t*>(memory_.map(physical, size)), physical, size} {}
    ~MemoryWindow() { memory.unmap(window.base, window.size); }
    MemoryWindow(const MemoryWindow&) = delete;
    MemoryWindow& operator=(const MemoryWindow&) = delete;

    const RawWindow& view() const { return window; }

private:
    PhysicalMemory& memory;
    RawWindow window;
};

}  // namespace sim
