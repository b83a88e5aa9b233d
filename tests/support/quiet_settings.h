// Simulator settings for in-process tests and benchmarks: no HTTP server of their own.
#pragma once

#include <string>

#include "sim/app/sim_settings.h"

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
