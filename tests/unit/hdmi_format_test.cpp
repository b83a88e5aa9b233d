// Format identification from the receiver's measurements, and the input EDID.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

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

TEST(HdmiFormat, TimingRegistersAssembleTwelveBitValues) {
    // 1920 active (0x780) of 2200 total (0x898); 540 active (0x21c) of 562 total (0x232).
    const hdmi_timing t = decode_hdmi_timing(0x02, 0x98, 0x78, 0x80, 0x32, 0x22, 0x1c, 47);
    EXPECT_EQ(std::make_tuple(t.interlaced, t.h_active, t.h_total, t.v_active, t.v_total, t.clock),
              std::make_tuple(true, 1920, 2200, 540, 562, 47));
}

TEST(HdmiFormat, SizesAndRateBands) {
    const struct {
        hdmi_timing t;
        int code;
        bool sd;
    } cases[] = {
        {timing(false, 1920, 1080, 2200, 1125, 46), 14, false},  // 30 Hz
        {timing(false, 1920, 1080, 2640, 1125, 46), 12, false},  // 25 Hz
        {timing(false, 1920, 1080, 2750, 1125, 46), 11, false},  // 24 Hz
        {timing(false, 1916, 1084, 2200, 1125, 23), 17, false},  // edges of the size window
        {timing(false, 1280, 720, 1980, 750, 47), 7, false},
        {timing(false, 1280, 720, 3300, 750, 47), 27, false},
        {timing(false, 1280, 720, 3960, 750, 47), 25, false},
        {timing(false, 1280, 720, 4125, 750, 47), 24, false},
        {timing(true, 1920, 540, 2640, 562, 47), 4, false},
        {timing(true, 1920, 540, 2750, 1125, 47), 21, false},  // 24 Hz fields
        {timing(true, 720, 288, 864, 312, 255), 1, true},
        {timing(true, 720, 240, 858, 262, 255), 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.t.h_active << "x" << c.t.v_active << " total " << c.t.h_total << "x"
                                        << c.t.v_total << " clock " << c.t.clock);
        const auto match = identify_hdmi_format(c.t, 0);
        EXPECT_EQ(match.code, c.code);
        EXPECT_EQ(match.standard_definition, c.sd);
    }
}

TEST(HdmiFormat, UnmeasurableOrUnknownInputs) {
    // Clock, totals of zero and rates of 64 and above are not measurable.
    EXPECT_EQ(identify_hdmi_format(timing(false, 1920, 1080, 2200, 1125, 0), 17).code, hdmi_format_unknown);
    EXPECT_EQ(identify_hdmi_format(timing(false, 1920, 1080, 0, 1125, 23), 17).code, hdmi_format_unknown);
    EXPECT_EQ(identify_hdmi_format(timing(false, 1920, 1080, 2200, 0, 23), 17).code, hdmi_format_unknown);
    EXPECT_EQ(hdmi_frame_rate(timing(false, 1280, 720, 1650, 750, 23)), 121);
    EXPECT_EQ(identify_hdmi_format(timing(false, 1280, 720, 1650, 750, 23), 9).code, hdmi_format_unknown);
    // A size or a rate outside the table keeps the current format.
    EXPECT_EQ(identify_hdmi_format(timing(false, 1925, 1080, 2200, 1125, 23), 17).code, 17);
    EXPECT_EQ(identify_hdmi_format(timing(false, 1920, 1080, 2200, 1125, 35), 9).code, 9);  // 40 Hz
    EXPECT_EQ(identify_hdmi_format(timing(true, 1280, 720, 1650, 750, 47), 7).code, 7);     // 720 interlaced
    EXPECT_EQ(identify_hdmi_format(timing(false, 720, 288, 864, 312, 255), 4).code, 4);     // SD progressive
}

TEST(HdmiFormat, PairPartnersDifferOnlyInTheRateVariant) {
    const std::set<std::pair<int, int>> pairs = {{5, 6}, {8, 9}, {13, 14}, {16, 17}, {18, 19}, {26, 27}, {29, 30}};
    for (int a = 0; a <= 32; ++a)
        for (int b = 0; b <= 32; ++b)
            EXPECT_EQ(hdmi_pair_partners(a, b), pairs.count({a, b}) + pairs.count({b, a}) > 0) << a << " " << b;
}

TEST(HdmiEdid, BothBlocksCarryValidChecksumsAndTheNativeTiming) {
    const edid_bytes& e = hdmi_edid();
    for (int block = 0; block < 2; ++block) {
        unsigned sum = 0;
        for (int i = 0; i < 128; ++i) sum += e[static_cast<size_t>(block * 128 + i)];
        EXPECT_EQ(sum % 256, 0u) << "block " << block;
    }
    const uint8_t header[] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    EXPECT_TRUE(std::equal(std::begin(header), std::end(header), e.begin()));
    // Version 1.3, one extension, CEA-861 with basic audio.
    EXPECT_EQ(std::make_tuple(e[18], e[19], e[126], e[128], e[131] & 0x40), std::make_tuple(1, 3, 1, 2, 0x40));
    // The native timing is 1080p60.
    const int clock_10khz = e[54] | e[55] << 8;
    const int h_active = e[56] | (e[58] & 0xf0) << 4;
    const int v_active = e[59] | (e[61] & 0xf0) << 4;
    const int h_blank = e[57] | (e[58] & 0x0f) << 8;
    const int v_blank = e[60] | (e[61] & 0x0f) << 8;
    EXPECT_EQ(std::make_tuple(clock_10khz, h_active, v_active, h_active + h_blank, v_active + v_blank),
              std::make_tuple(14850, 1920, 1080, 2200, 1125));
}

TEST(HdmiEdid, VideoBlockListsTheAdvertisedFormats) {
    const edid_bytes& e = hdmi_edid();
    const size_t dtd = 128 + e[130];
    std::set<int> vics;
    int native = 0;
    for (size_t at = 132; at < dtd;) {
        const int tag = e[at] >> 5, length = e[at] & 0x1f;
        if (tag == 2) {
            for (int i = 1; i <= length; ++i) {
                const int svd = e[at + static_cast<size_t>(i)];
                vics.insert(svd & 0x7f);
                if (svd & 0x80) native = svd & 0x7f;
            }
        }
        at += static_cast<size_t>(length) + 1;
    }
    // 1080p 60/50/24/25/30, 1080i 60/50, 720p 60/50/24/25/30, 480i, 576i
    for (int vic : {16, 31, 32, 33, 34, 5, 20, 4, 19, 60, 61, 62, 6, 21}) EXPECT_TRUE(vics.count(vic)) << vic;
    EXPECT_EQ(native, 16);
}

TEST(HdmiEdid, WordsAreFourBytesLittleEndian) {
    const edid_bytes& e = hdmi_edid();
    EXPECT_EQ(edid_word(e, 0), 0xffffff00u);
    EXPECT_EQ(edid_word(e, 1), 0x00ffffffu);
    EXPECT_EQ(edid_word(e, 63), uint32_t{e[252]} | uint32_t{e[253]} << 8 | uint32_t{e[254]} << 16 |
                                    uint32_t{e[255]} << 24);
}
