// How closely a decoded picture follows the test source's own rendering of the same picture.
#pragma once

#include <cmath>
#include <vector>

#include "sim/media/speedhq_decoder.h"
#include "sim/media/test_picture.h"

// PSNR of the luma plane against picture `number` of a `sourceWidth`-wide test source (the coded
// picture may be narrower); the bars, the moving box and the counter all count.
inline double lumaPsnr(const sim::DecodedPicture& p, int sourceWidth, uint64_t number) {
    const sim::TestPicture reference(sourceWidth, p.height);
    std::vector<uint8_t> line(size_t(sourceWidth) * 2);
    double squares = 0;
    for (int y = 0; y < p.height; ++y) {
        reference.renderLine(line.data(), y, number);
        for (int x = 0; x < p.width; ++x) {
            const double d = double(p.lumaAt(x, y)) - line[size_t(x) * 2 + 1];
            squares += d * d;
        }
    }
    const double mse = squares / (double(p.width) * p.height);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}
