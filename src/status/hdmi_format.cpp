// The video format table of the HDMI monitor.
#include "status/hdmi_format.h"

#include <utility>

namespace {
bool near(int value, int nominal) { return value >= nominal - 4 && value <= nominal + 4; }

struct band {
    int low, high, code;
};

int by_rate(int rate, std::initializer_list<band> bands, int current) {
    for (const auto& b : bands)
        if (rate >= b.low && rate <= b.high) return b.code;
    return current;
}
}  // namespace

hdmi_timing decode_hdmi_timing(uint8_t r58, uint8_t r59, uint8_t r5a, uint8_t r5b, uint8_t r5f, uint8_t r60,
                               uint8_t r61, uint8_t r64) {
    hdmi_timing t;
    t.interlaced = (r58 & 0x02) != 0;
    t.h_active = ((r5a << 4) & 0xf00) + r5b;
    t.v_active = ((r60 << 4) & 0xf00) + r61;
    t.h_total = ((r5a << 8) & 0xf00) + r59;
    t.v_total = ((r60 << 8) & 0xf00) + r5f;
    t.clock = r64;
    return t;
}

int hdmi_frame_rate(const hdmi_timing& t) {
    if (t.clock == 0 || t.h_total == 0 || t.v_total == 0) return -1;
    const unsigned pixel_rate = (3456000u / static_cast<unsigned>(t.clock)) * 1000u;
    return static_cast<int>(static_cast<double>(pixel_rate / static_cast<unsigned>(t.h_total)) / t.v_total + 0.5);
}

hdmi_format_match identify_hdmi_format(const hdmi_timing& t, int current) {
    const int rate = hdmi_frame_rate(t);
    if (rate < 0 || rate >= 64) return {hdmi_format_unknown, false};
    if (t.interlaced) {
        if (near(t.h_active, 720) && near(t.v_active, 240)) return {2, true};
        if (near(t.h_active, 720) && near(t.v_active, 288)) return {1, true};
        if (near(t.h_active, 1920) && near(t.v_active, 540))
            return {by_rate(rate, {{23, 24, 21}, {25, 26, 22}, {48, 52, 4}, {58, 62, 6}}, current), false};
        return {current, false};
    }
    if (near(t.h_active, 1280) && near(t.v_active, 720))
        return {by_rate(rate, {{23, 24, 24}, {25, 26, 25}, {28, 32, 27}, {48, 52, 7}, {58, 62, 9}}, current), false};
    if (near(t.h_active, 1920) && near(t.v_active, 1080))
        return {by_rate(rate, {{23, 24, 11}, {25, 26, 12}, {28, 32, 14}, {47, 53, 15}, {57, 63, 17}}, current),
                false};
    return {current, false};
}

bool hdmi_pair_partners(int a, int b) {
    constexpr std::pair<int, int> kPairs[] = {{5, 6}, {8, 9}, {13, 14}, {16, 17}, {18, 19}, {26, 27}, {29, 30}};
    for (const auto& [x, y] : kPairs)
        if ((a == x && b == y) || (a == y && b == x)) return true;
    return false;
}
