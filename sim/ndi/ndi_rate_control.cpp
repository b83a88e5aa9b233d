// Target frame size and the quality steps of the stand-in's rate control.
#include "sim/ndi/ndi_rate_control.h"

#include <algorithm>
#include <cmath>

namespace sim {

int NdiRateControl::targetFrameSize(const ndi::video_frame_v2& format) {
    if (format.xres <= 0 || format.yres <= 0 || format.frame_rate_N <= 0 || format.frame_rate_D <= 0) return 0;
    const double rate = std::clamp(double(format.frame_rate_N) / format.frame_rate_D, 1.0, 120.0);
    const double bytes = double(format.xres) * format.yres * 1.5 / 8.0 * std::sqrt(30.0 / rate);
    return int(std::min(bytes, 256.0 * 1024 * 1024));
}

void NdiRateControl::frameSent(int bytes) {
    lastBytes = bytes;
    fresh = true;
}

int NdiRateControl::quality(const ndi::video_frame_v2& format) {
    // A second field is coded with its first field's quality.
    if (format.frame_format_type == ndi::frame_format::field_1 || !fresh) return q;
    const int target = targetFrameSize(format);
    if (target <= 0 || lastBytes <= 0) return q;
    fresh = false;
    const double ratio = double(lastBytes) / target;
    int step = 0;
    if (ratio > 2.0) step = -6;
    else if (ratio > 1.1) step = -2;
    else if (ratio < 0.5) step = 6;
    else if (ratio < 0.9) step = 2;
    q = std::clamp(q + step, kMinQuality, kMaxQuality);
    return q;
}

}  // namespace sim
