// Simulator settings for in-process tests and benchmarks: no HTTP server of their own.
#pragma once

#include <string>

#include "sim/app/sim_settings.h"

// The head's mechanics sped up for tests, yet slow enough that a busy host cannot starve a
// homing poll for the whole run from one pan switch to the other (about half a second).
#ifdef __SANITIZE_THREAD__
inline constexpr double kTestHeadSpeed = 4;  // the head model's catch-up costs too much host time there
#else
inline constexpr double kTestHeadSpeed = 10;
#endif

inline sim::SimSettings quietSettings() {
    sim::SimSettings s;
    s.httpPort = 0;
    return s;
}

// The same with `input` on the HDMI input.
inline sim::SimSettings quietSettings(const std::string& input) {
    sim::SimSettings s = quietSettings();
    s.input = input;
    return s;
}
