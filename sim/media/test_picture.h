// The simulated source's picture as 8-bit 4:2:2 (UYVY: Cb Y0 Cr Y1): 75% colour bars (BT.709) over
// the top two thirds, a moving box and the picture number below.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

class TestPicture {
public:
    struct Colour {
        uint8_t y, cb, cr;
    };
    static constexpr Colour kBars[7] = {{180, 128, 128}, {168, 44, 136}, {145, 147, 44}, {133, 63, 52},
                                        {63, 193, 204},  {51, 109, 212}, {28, 212, 120}};
    static constexpr Colour kBackground = {16, 128, 128};
    static constexpr Colour kInk = {235, 128, 128};

    // A picture of width x frameHeight pixels (the whole frame for interlaced sources).
    TestPicture(int width, int frameHeight);

    int width() const { return pictureWidth; }
    int frameHeight() const { return pictureHeight; }
    // The bar under pixel x of a bars line.
    static int barAt(int x, int width);
    // Line `line` of picture `number`: width * 2 bytes.
    void renderLine(uint8_t* out, int line, uint64_t number) const;
    // Where the box of picture `number` starts (pixels from the left), for tests.
    int boxLeft(uint64_t number) const;

private:
    bool inkAt(int x, int line, uint64_t number) const;

    int pictureWidth, pictureHeight;
    int barsEnd;   // first line below the bars
    int unit;      // size of one counter dot and of the box's steps
    std::vector<uint8_t> barsLine, blankLine;
};

}  // namespace sim
