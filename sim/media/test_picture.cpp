// Rendering of the test picture, line by line from cached template lines.
#include "sim/media/test_picture.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {
// 3x5 dot digits, one row per byte, bit 2 = left column.
constexpr uint8_t kDigits[10][5] = {{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
                                    {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1},
                                    {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};
constexpr int kCounterDigits = 6;

void fill(std::vector<uint8_t>& line, int pair, TestPicture::Colour c) {
    auto at = static_cast<size_t>(pair) * 4;
    line[at] = c.cb, line[at + 1] = c.y, line[at + 2] = c.cr, line[at + 3] = c.y;
}
}  // namespace

TestPicture::TestPicture(int width, int frameHeight)
    : pictureWidth(width),
      pictureHeight(frameHeight),
      barsEnd(frameHeight * 2 / 3),
      unit(std::max(1, frameHeight / 90)),
      barsLine(static_cast<size_t>(width) * 2),
      blankLine(static_cast<size_t>(width) * 2) {
    for (int pair = 0; pair < width / 2; ++pair) {
        fill(barsLine, pair, kBars[barAt(pair * 2, width)]);
        fill(blankLine, pair, kBackground);
    }
}

int TestPicture::barAt(int x, int width) { return std::min(6, x * 7 / width); }

int TestPicture::boxLeft(uint64_t number) const {
    const int travel = std::max(1, pictureWidth - 8 * unit);
    return static_cast<int>((number * static_cast<uint64_t>(unit)) % static_cast<uint64_t>(travel)) & ~1;
}

bool TestPicture::inkAt(int x, int line, uint64_t number) const {
    const int top = barsEnd + unit * 2;
    const int dotsX = x / unit - 2, dotsY = (line - top) / unit;
    if (line < top || dotsY >= 5 || dotsX < 0 || dotsX >= kCounterDigits * 4) return false;
    if (dotsX % 4 == 3) return false;  // gap between digits
    uint64_t value = number;
    for (int skip = kCounterDigits - 1 - dotsX / 4; skip > 0; --skip) value /= 10;
    return (kDigits[value % 10][dotsY] >> (2 - dotsX % 4) & 1) != 0;
}

void TestPicture::renderLine(uint8_t* out, int line, uint64_t number) const {
    if (line < barsEnd) {
        std::memcpy(out, barsLine.data(), barsLine.size());
        return;
    }
    std::memcpy(out, blankLine.data(), blankLine.size());
    auto put = [&](int x, Colour c) {
        uint8_t* p = out + static_cast<size_t>(x & ~1) * 2;
        p[0] = c.cb, p[1] = c.y, p[2] = c.cr, p[3] = c.y;
    };
    const int boxTop = barsEnd + (pictureHeight - barsEnd) / 2;
    if (line >= boxTop && line < boxTop + 6 * unit) {
        const int left = boxLeft(number);
        for (int x = left; x < std::min(pictureWidth, left + 8 * unit); x += 2) put(x, kBars[0]);
    }
    for (int x = 0; x < std::min(pictureWidth, (kCounterDigits * 4 + 2) * unit); x += 2)
        if (inkAt(x, line, number)) put(x, kInk);
}

}  // namespace sim
