#include "hw/device.h"

void device::set_reserved(const memory_region& region) {
    if (region.size < kArea3Size) {  // too small to split: never hand out memory past its end
        areas[0] = {0, 0};
        areas[3] = {0, region.size};
        return;
    }
    areas[0] = {0, region.size - kArea3Size};
    areas[3] = {region.size - kArea3Size, kArea3Size};
}

address_range device::get_area(int index) const {
    if (index < 0 || index >= static_cast<int>(areas.size())) return {};
    return areas[static_cast<size_t>(index)];
}

void device::set_raw(const memory_region& region) {
    raw = region.physical == 0 ? address_range{0, 0x20000000} : address_range{region.physical, region.size};
}

address_range device::get_raw() const { return raw; }

uint32_t device::to_bus(uint32_t address) const { return address; }
