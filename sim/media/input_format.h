// A video format the simulated HDMI source can send, with its CEA-861 timing.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct InputFormat {
    std::string name = "none";
    bool present = false;
    int width = 0, height = 0;  // active picture, lines of the whole frame
    bool interlaced = false;
    int rateN = 0, rateD = 1;   // frames per second; fields per second when interlaced
    int hTotal = 0, vTotal = 0; // vTotal of the whole frame
    int pixelKhz = 0;

    int fieldHeight() const { return interlaced ? height / 2 : height; }
    int fieldTotal() const { return interlaced ? vTotal / 2 : vTotal; }
    // Time between two pictures the source sends (fields when interlaced).
    std::chrono::nanoseconds period() const;
    uint32_t periodMicros() const;

    // "1080p59.94", "1080i50", "720p60", "576i", "none", ...; nothing for an unknown text.
    static std::optional<InputFormat> parse(const std::string& text);
    static std::vector<std::string> names();
};

}  // namespace sim
