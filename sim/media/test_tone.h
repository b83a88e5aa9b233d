// The simulated audio source: a 1 kHz sine at -20 dBFS, the same on every channel, whose phase
// runs on through sample-rate changes and through samples nobody captured.
#pragma once

#include <cstdint>

namespace sim {

class TestTone {
public:
    static constexpr double kFrequency = 1000.0;
    static constexpr double kLevelDbfs = -20.0;

    // The next sample at `rate` Hz, as a signed 32-bit value (full scale is the 32-bit peak).
    int32_t next(int rate);
    // Lets `count` samples at `rate` go by unwritten.
    void skip(uint64_t count, int rate);

private:
    double phase = 0.0;  // in cycles, [0, 1)
};

}  // namespace sim
