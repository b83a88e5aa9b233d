// The tracking block's measurement decoded into a signal record.
#include <gtest/gtest.h>

#include <tuple>

#include "media/track.h"

TEST(TrackDecode, FormatBitsInPriorityOrder) {
    const struct {
        uint32_t value;
        uint32_t valid;
        int32_t width, height;
        uint32_t interlaced;
    } cases[] = {
        {0x411a0080, 1, 1920, 1080, 0}, {0x412b0040, 1, 1920, 540, 1}, {0x9c400020, 1, 1280, 720, 0},
        {0x411a00e0, 1, 1920, 1080, 0},  // bit 7 wins over 6 and 5
        {0x411a0060, 1, 1920, 540, 1},   // bit 6 wins over 5
        {0x411a001f, 0, 0, 0, 0},        // no format bit: no signal
        {0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.value);
        const signal_info s = track::decode(c.value);
        EXPECT_EQ(std::make_tuple(s.valid, s.width, s.height, s.interlaced, s.format, s.word2, s.word5),
                  std::make_tuple(c.valid, c.width, c.height, c.interlaced, 0, 0, 0));
    }
}

TEST(TrackDecode, FramePeriodTable) {
    const struct {
        uint32_t period;
        int32_t n, d;
        int printed;
    } cases[] = {
        {0, 60000, 1001, 59},      {16649, 60000, 1001, 59}, {16650, 60000, 1000, 60}, {16666, 60000, 1000, 60},
        {16682, 60000, 1000, 60},  {16683, 60000, 1001, 59}, {16699, 60000, 1001, 59}, {16700, 60000, 1000, 60},
        {19983, 60000, 1000, 60},  {19984, 50000, 1000, 50}, {20016, 50000, 1000, 50}, {20017, 60000, 1000, 60},
        {33317, 30000, 1000, 30},  {33349, 30000, 1000, 30}, {33350, 30000, 1001, 29}, {33382, 30000, 1001, 29},
        {39984, 25000, 1000, 25},  {40016, 25000, 1000, 25}, {41650, 24000, 1000, 24}, {41682, 24000, 1000, 24},
        {41683, 60000, 1000, 60},  {41692, 24000, 1001, 23}, {41724, 24000, 1001, 23}, {65535, 60000, 1000, 60},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.period);
        const signal_info s = track::decode(c.period << 16 | 0x80);
        EXPECT_EQ(std::make_tuple(s.rate_n, s.rate_d, track::integer_rate(s)), std::make_tuple(c.n, c.d, c.printed));
    }
}

TEST(TrackDecode, ARecordNeverWrittenHasRateZero) {
    EXPECT_EQ(track::integer_rate(signal_info{}), 0);
}
