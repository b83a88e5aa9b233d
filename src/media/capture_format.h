// The capture engines' geometry and modes derived from an input format, and the preview cadence.
#pragma once

#include <cstdint>

struct capture_format {
    int32_t full_width = 3840, full_height = 2160, full_stride = 5760;
    int32_t preview_width = 640, preview_height = 360, preview_stride = 960;
    uint32_t full_mode = 4, preview_mode = 1;
    bool preview_enabled = true;
};

// The mode and preview table; full_only turns the preview engine off whatever the table says.
capture_format derive_capture_format(int32_t format, int32_t width, int32_t height, int32_t stride, bool full_only);

// Bytes per line the engines write: 12 bits per pixel for 4:2:0, 16 for 4:2:2.
int32_t capture_stride(int32_t format, int32_t width);

// Every second pair carries a preview at 50 frames per second and above.
uint32_t preview_period_for(int32_t rate_n);

// After counting a pair: does it carry a preview? Interlaced input always does.
bool preview_due(uint32_t preview_count, uint32_t preview_period, bool interlaced);
