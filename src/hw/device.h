// Memory layout and bus-address rule of an FPGA platform.
#pragma once

#include <array>
#include <cstdint>

#include "hw/memory_region.h"

class device {
public:
    virtual ~device() = default;

    // Area 0 takes the reserved region but its last 64 KiB, which are area 3.
    virtual void set_reserved(const memory_region& region);
    virtual address_range get_area(int index) const;
    // The raw window is the video region; without one, the first 512 MiB.
    virtual void set_raw(const memory_region& region);
    virtual address_range get_raw() const;
    // The address the FPGA must be given for a physical address.
    virtual uint32_t to_bus(uint32_t address) const;

private:
    static constexpr uint32_t kArea3Size = 0x10000;

    std::array<address_range, 4> areas{{{0, 0x7ff0000}, {0, 0}, {0, 0}, {0x7ff0000, kArea3Size}}};
    address_range raw{};
};
