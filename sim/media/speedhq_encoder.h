// The encoding engine of the encoder-core model: libavcodec's SpeedHQ encoder on 4:2:2 pictures.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace sim {

class SpeedHqEncoder {
public:
    // libavcodec codes quality 100 - 2 qscale and clamps qscale at 31: these qualities come out exact.
    static constexpr int kMinQuality = 38;
    static constexpr int kMaxQuality = 98;
    static bool exact(int quality) { return quality >= kMinQuality && quality <= kMaxQuality && quality % 2 == 0; }
    static int nearestExact(int quality);

    struct Slices {
        int quality = 0;                     // byte 0 of the packet
        std::array<std::vector<uint8_t>, 4> slice;  // each with its own 24-bit length prefix
    };

    SpeedHqEncoder();
    ~SpeedHqEncoder();
    SpeedHqEncoder(const SpeedHqEncoder&) = delete;
    SpeedHqEncoder& operator=(const SpeedHqEncoder&) = delete;

    // Codes a UYVY picture (Cb Y0 Cr Y1) of width x height read at `stride`; false on failure.
    bool encode(const uint8_t* uyvy, int width, int height, int stride, int quality, Slices& out);

private:
    struct Context;
    bool open(int width, int height);
    std::unique_ptr<Context> context;
};

}  // namespace sim
