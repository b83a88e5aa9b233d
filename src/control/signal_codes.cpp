#include "control/signal_codes.h"

namespace {
struct FormatCode {
    int width, height, interlaced, rate, code;
};

constexpr FormatCode kVideoCodes[] = {
    {1920, 1080, 0, 60, 0x00}, {1920, 1080, 0, 59, 0x05}, {1920, 1080, 0, 50, 0x08}, {1920, 1080, 0, 30, 0x02},
    {1920, 1080, 0, 29, 0x0D}, {1920, 1080, 0, 25, 0x0A}, {1920, 1080, 0, 24, 0x24}, {1920, 1080, 0, 23, 0x23},
    {1920, 540, 1, 30, 0x01},  {1920, 540, 1, 29, 0x06},  {1920, 540, 1, 25, 0x09},  {1280, 720, 0, 60, 0x03},
    {1280, 720, 0, 59, 0x07},  {1280, 720, 0, 50, 0x0B},  {1280, 720, 0, 30, 0x04},  {1280, 720, 0, 29, 0x0E},
    {1280, 720, 0, 25, 0x0C},  {1280, 720, 0, 24, 0x31},  {1280, 720, 0, 23, 0x30},  {720, 288, 1, 25, 0x20},
    {720, 240, 1, 29, 0x21},   {720, 240, 1, 30, 0x22},
};
constexpr int kUnknownVideo = 0x36;
}  // namespace

int videoSystemCode(int width, int height, int interlaced, int rate) {
    const int field = interlaced != 0 ? 1 : 0;
    for (const auto& f : kVideoCodes) {
        if (f.width == width && f.height == height && f.interlaced == field && f.rate == rate) return f.code;
    }
    return kUnknownVideo;
}

int audioSystemCode(int rate) {
    switch (rate) {
        case 32000: return 2;
        case 44100: return 4;
        case 48000: return 6;
        case 96000: return 16;
        default: return 0;
    }
}
