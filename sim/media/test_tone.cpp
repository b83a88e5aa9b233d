// The test tone's samples.
#include "sim/media/test_tone.h"

#include <cmath>
#include <numbers>

namespace sim {

namespace {
const double kPeak = 2147483647.0 * std::pow(10.0, TestTone::kLevelDbfs / 20.0);
}  // namespace

int32_t TestTone::next(int rate) {
    const auto value = static_cast<int32_t>(std::lround(kPeak * std::sin(2.0 * std::numbers::pi * phase)));
    skip(1, rate);
    return value;
}

void TestTone::skip(uint64_t count, int rate) {
    const double cycles = kFrequency * static_cast<double>(count) / rate;
    phase = std::fmod(phase + cycles, 1.0);
}

}  // namespace sim
