// Slot reuse: only the five newest loads are trusted, so a slot being reloaded is never in use.
#include "media/quality_slots.h"

int quality_slots::find(int q) const {
    for (int age = 3; age <= 7; ++age) {
        const int slot = (next_slot + age) % count;
        if (slot_quality[size_t(slot)] == q) return slot;
    }
    return -1;
}

int quality_slots::claim(int q) {
    const int slot = next_slot;
    slot_quality[size_t(slot)] = q;
    next_slot = (next_slot + 1) % count;
    return slot;
}
