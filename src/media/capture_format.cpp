// The capture mode table and the preview cadence rules.
#include "media/capture_format.h"

namespace {
capture_format scaled(int32_t width, int32_t height, int32_t stride, uint32_t full_mode, uint32_t preview_mode,
                      int32_t divisor, bool preview_enabled) {
    capture_format f;
    f.full_width = width;
    f.full_height = height;
    f.full_stride = stride;
    f.preview_width = width / divisor;
    f.preview_height = height / divisor;
    f.preview_stride = stride / divisor;
    f.full_mode = full_mode;
    f.preview_mode = preview_mode;
    f.preview_enabled = preview_enabled;
    return f;
}
}  // namespace

capture_format derive_capture_format(int32_t format, int32_t width, int32_t height, int32_t stride, bool full_only) {
    capture_format f;
    if (format == 1)
        f = width < 2564 ? scaled(width, height, stride, 4, 0, 4, true) : scaled(width, height, stride, 4, 1, 6, true);
    else if (width <= 720)
        f = scaled(width, height, stride, 1, 0, 1, false);
    else if (width <= 1281)
        f = scaled(width, height, stride, 1, 0, 2, true);
    else
        f = scaled(width, height, stride, 1, 1, 3, true);
    if (full_only) f.preview_enabled = false;
    return f;
}

int32_t capture_stride(int32_t format, int32_t width) { return format == 1 ? width + width / 2 : width * 2; }

uint32_t preview_period_for(int32_t rate_n) { return rate_n >= 50000 ? 2 : 1; }

bool preview_due(uint32_t preview_count, uint32_t preview_period, bool interlaced) {
    return interlaced || preview_count >= preview_period;
}
