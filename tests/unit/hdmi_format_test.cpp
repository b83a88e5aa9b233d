// Format identification at the edges the simulated sources never reach, pair partners, and the EDID checksums.
#include <gtest/gtest.h>

#include <set>

#include "status/hdmi_edid.h"
#include "status/hdmi_format.h"

namespace {
hdmi_timing timing(bool interlaced, int h_active, int v_active, int h_total, int v_total, int clock) {
    hdmi_timing t;
    t.interlaced = interlaced;
    t.h_active = h_active, t.v_active = v_active, t.h_total = h_total, t.v_total = v_total, t.clock = clock;
    return t;
}
}  // namespace

// A size or rate outside the table keeps the current format (here 9); unmeasurable input is unknown.
TEST(HdmiFormat, SizeWindowRateLimitAndUnmeasurableInputs) {
    const struct {
        hdmi_timing t;
        int code;
    } cases[] = {
        {timing(false, 1916, 1084, 2200, 1125, 23), 17}, {timing(false, 1924, 1076, 2200, 1125, 23), 17},
        {timing(false, 1925, 1080, 2200, 1125, 23), 9},  {timing(false, 1920, 1085, 2200, 1125, 23), 9},
        {timing(false, 1920, 1080, 2110, 1125, 23), 17},  // 63 Hz
        {timing(false, 1920, 1080, 2100, 1125, 23), hdmi_format_unknown},  // 64 Hz
        {timing(false, 1920, 1080, 2200, 1125, 0), hdmi_format_unknown},
        {timing(false, 1920, 1080, 0, 1125, 23), hdmi_format_unknown},
        {timing(false, 1920, 1080, 2200, 0, 23), hdmi_format_unknown},
        {timing(false, 1920, 1080, 2200, 1125, 35), 9},  // 40 Hz
        {timing(true, 1280, 720, 1650, 750, 47), 9},     // 720 interlaced
        {timing(false, 720, 288, 864, 312, 255), 9},     // SD progressive
        {timing(true, 1920, 540, 2750, 1125, 47), 21},   // 24 Hz fields
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.t.h_active << "x" << c.t.v_active << " total " << c.t.h_total << "x"
                                        << c.t.v_total << " clock " << c.t.clock);
        EXPECT_EQ(identify_hdmi_format(c.t, 9).code, c.code);
    }
    EXPECT_EQ(std::make_tuple(hdmi_frame_rate(timing(false, 1920, 1080, 2110, 1125, 23)),
                              hdmi_frame_rate(timing(false, 1920, 1080, 2100, 1125, 23))),
              std::make_tuple(63, 64));
}

TEST(HdmiFormat, PairPartnersDifferOnlyInTheRateVariant) {
    const std::set<std::pair<int, int>> pairs = {{5, 6}, {8, 9}, {13, 14}, {16, 17}, {18, 19}, {26, 27}, {29, 30}};
    for (int a = 0; a <= 32; ++a)
        for (int b = 0; b <= 32; ++b)
            EXPECT_EQ(hdmi_pair_partners(a, b), pairs.count({a, b}) + pairs.count({b, a}) > 0) << a << " " << b;
}

TEST(HdmiEdid, BothBlocksCarryValidChecksums) {
    const edid_bytes& e = hdmi_edid();
    for (int block = 0; block < 2; ++block) {
        unsigned sum = 0;
        for (int i = 0; i < 128; ++i) sum += e[static_cast<size_t>(block * 128 + i)];
        EXPECT_EQ(sum % 256, 0u) << "block " << block;
    }
}
