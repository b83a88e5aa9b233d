// The eight quantisation table slots of the encoder cores and which quality each holds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

class quality_slots {
public:
    static constexpr int count = 8;

    // The slot holding q among the five most recently loaded, or -1.
    int find(int q) const;
    // Records q in the next slot in turn and returns that slot; the caller loads its table.
    int claim(int q);
    int quality_in(int slot) const { return slot_quality[size_t(slot)]; }

private:
    std::array<int32_t, count> slot_quality{-1, -1, -1, -1, -1, -1, -1, -1};
    int next_slot = 0;
};
