// The table of source formats the simulator offers.
#include "sim/media/input_format.h"

namespace sim {

namespace {
const InputFormat kFormats[] = {
    {"1080p60", true, 1920, 1080, false, 60000, 1000, 2200, 1125, 148500},
    {"1080p59.94", true, 1920, 1080, false, 60000, 1001, 2200, 1125, 148352},
    {"1080p50", true, 1920, 1080, false, 50000, 1000, 2640, 1125, 148500},
    {"1080p30", true, 1920, 1080, false, 30000, 1000, 2200, 1125, 74250},
    {"1080p29.97", true, 1920, 1080, false, 30000, 1001, 2200, 1125, 74176},
    {"1080p25", true, 1920, 1080, false, 25000, 1000, 2640, 1125, 74250},
    {"1080p24", true, 1920, 1080, false, 24000, 1000, 2750, 1125, 74250},
    {"1080p23.98", true, 1920, 1080, false, 24000, 1001, 2750, 1125, 74176},
    {"1080i60", true, 1920, 1080, true, 60000, 1000, 2200, 1125, 74250},
    {"1080i59.94", true, 1920, 1080, true, 60000, 1001, 2200, 1125, 74176},
    {"1080i50", true, 1920, 1080, true, 50000, 1000, 2640, 1125, 74250},
    {"720p60", true, 1280, 720, false, 60000, 1000, 1650, 750, 74250},
    {"720p59.94", true, 1280, 720, false, 60000, 1001, 1650, 750, 74176},
    {"720p50", true, 1280, 720, false, 50000, 1000, 1980, 750, 74250},
    {"720p30", true, 1280, 720, false, 30000, 1000, 3300, 750, 74250},
    {"720p25", true, 1280, 720, false, 25000, 1000, 3960, 750, 74250},
    {"720p24", true, 1280, 720, false, 24000, 1000, 4125, 750, 74250},
    {"576i", true, 720, 576, true, 50000, 1000, 864, 625, 13500},
    {"480i", true, 720, 480, true, 60000, 1001, 858, 525, 13500},
    {"none", false, 0, 0, false, 0, 1, 0, 0, 0},
};
}  // namespace

std::chrono::nanoseconds InputFormat::period() const {
    if (!present || rateN == 0) return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(int64_t{1000000000} * rateD / rateN);
}

uint32_t InputFormat::periodMicros() const {
    if (!present || rateN == 0) return 0;
    return static_cast<uint32_t>((int64_t{1000000} * rateD + rateN / 2) / rateN);
}

std::optional<InputFormat> InputFormat::parse(const std::string& text) {
    for (const auto& f : kFormats)
        if (f.name == text) return f;
    return std::nullopt;
}

std::vector<std::string> InputFormat::names() {
    std::vector<std::string> all;
    for (const auto& f : kFormats) all.push_back(f.name);
    return all;
}

}  // namespace sim
