// SpeedHQ payloads as a receiver sees them: libavcodec's decoder, and the picture as PNG.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct DecodedPicture {
    int width = 0, height = 0;
    int chromaWidth = 0, chromaHeight = 0;
    std::vector<uint8_t> y, cb, cr;  // tightly packed planes

    uint8_t lumaAt(int x, int yy) const { return y[size_t(yy) * size_t(width) + size_t(x)]; }
    uint8_t cbAt(int x, int yy) const;  // at the chroma sample covering luma (x, yy)
    uint8_t crAt(int x, int yy) const;
};

// Decodes one NDI SpeedHQ payload; the FourCC is upper-cased for the decoder (it takes no preview tags).
std::optional<DecodedPicture> decodeSpeedHq(const std::vector<uint8_t>& payload, uint32_t fourcc, int width,
                                            int height);

// The picture as an RGB PNG (BT.709, studio range), or empty on failure.
std::string encodePng(const DecodedPicture& picture);

}  // namespace sim
