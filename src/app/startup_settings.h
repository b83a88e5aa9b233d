// What the command line and the configuration file decide before anything starts.
#pragma once

#include <cstdint>
#include <optional>

struct startup_settings {
    int32_t ptz_limit = 150;
    bool pan_reversed = false;
    bool tilt_reversed = false;
    bool video_enabled = true;
    bool audio_enabled = true;
    bool full_resolution_only = false;
    bool pan_tilt_enabled = true;
};

// PtzLimitDegree, PAN_REVERSE and TILT_REVERSE from the configuration file.
void read_startup_config(startup_settings& settings);

// Applies the options in order. Returns an exit status when the process must
// end now (usage error: 1, version: 0), nothing when it goes on.
std::optional<int> parse_options(int argc, char** argv, startup_settings& settings);
