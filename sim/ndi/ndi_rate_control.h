// The stand-in's quality feedback for one SpeedHQ stream: keeps compressed frames near the target size.
#pragma once

#include <cstdint>

#include "platform/ndi_types.h"

namespace sim {

class NdiRateControl {
public:
    // Qualities handed out are even and stay within [kMinQuality, kMaxQuality]; 100 is never
    // given (a compressor's quantiser divides by 100 - q).
    static constexpr int kMinQuality = 20;
    static constexpr int kMaxQuality = 98;
    static constexpr int kStartQuality = 70;

    // Bytes per compressed frame: 1.5 bits per pixel at 30 frames/s, scaled by sqrt(30 / rate)
    // (rate clamped to 1..120), so higher rates get smaller frames but more bits per second.
    // 0 for a format without pixels or rate.
    static int targetFrameSize(const ndi::video_frame_v2& format);

    // Called for every frame sent on the stream, with its payload size.
    void frameSent(int bytes);

    // The quality for the next frame of `format`. It moves by one step (2) when the last frame
    // sent was more than 10% off the target, by three steps when off by more than a factor of 2,
    // and only on first fields and progressive frames, once per frame sent.
    int quality(const ndi::video_frame_v2& format);

    int current() const { return q; }

private:
    int q = kStartQuality;
    int lastBytes = 0;
    bool fresh = false;  // a frame was sent since the last adjustment
};

}  // namespace sim
