// The input signal as the tracking input measures it and the video capture follows it.
#pragma once

#include <cstdint>

// Nine 32-bit words, in the order the tracking input and the console know them.
struct signal_info {
    uint32_t valid = 0;
    int32_t format = 0;  // 1 = 4:2:0, any other value = 4:2:2
    int32_t word2 = 0;
    int32_t width = 0;
    int32_t height = 0;  // one field's height for interlaced input
    int32_t word5 = 0;   // never filled in by get_signal
    uint32_t interlaced = 0;
    int32_t rate_n = 0;
    int32_t rate_d = 0;
};

static_assert(sizeof(signal_info) == 9 * 4);
