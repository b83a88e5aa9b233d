// The pure tables behind capture: memory areas, modes, rate bands, buffer rings, the timecode clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <tuple>
#include <vector>

#include "hw/device_cyclone.h"
#include "hw/timecode.h"
#include "media/audio_capture.h"
#include "media/audio_ring.h"
#include "media/buffer_ring.h"
#include "media/capture_format.h"
#include "media/track.h"

TEST(Device, ReservedSplitKeepsTheLast64KiBForAudioAndOnlyTheCycloneSetsBit31) {
    device d;
    EXPECT_EQ(std::make_tuple(d.get_area(0), d.get_area(1), d.get_area(3)),
              std::make_tuple(address_range{0, 0x7ff0000}, address_range{0, 0}, address_range{0x7ff0000, 0x10000}));
    EXPECT_EQ(std::make_tuple(d.get_area(4), d.get_area(-1)), std::make_tuple(address_range{}, address_range{}));
    d.set_reserved({0x20000000, 0x1000000});
    EXPECT_EQ(std::make_tuple(d.get_area(0), d.get_area(3)),
              std::make_tuple(address_range{0, 0xff0000}, address_range{0xff0000, 0x10000}));
    d.set_reserved({0x20000000, 0x8000});  // too small to split: never an area past its end
    EXPECT_EQ(std::make_tuple(d.get_area(0), d.get_area(3)), std::make_tuple(address_range{0, 0}, address_range{0, 0x8000}));
    d.set_raw({0, 0x4000000});  // no video region: the fallback window
    EXPECT_EQ(d.get_raw(), (address_range{0, 0x20000000}));
    const device_cyclone cyclone;
    EXPECT_EQ(std::make_tuple(d.to_bus(0x7fffffffu), static_cast<const device&>(cyclone).to_bus(0x7fffffffu)),
              std::make_tuple(0x7fffffffu, 0xffffffffu));
}

TEST(CaptureFormat, ModeAndPreviewTable) {
    const struct {
        int32_t format, width, height;
        bool full_only;
        capture_format expected;
    } cases[] = {
        {0, 1281, 720, false, {1281, 720, 2562, 640, 360, 1281, 1, 0, true}},
        {0, 1282, 720, false, {1282, 720, 2564, 427, 240, 854, 1, 1, true}},
        {0, 721, 480, false, {721, 480, 1442, 360, 240, 721, 1, 0, true}},
        {0, 720, 288, false, {720, 288, 1440, 720, 288, 1440, 1, 0, false}},
        {1, 2563, 1440, false, {2563, 1440, 3844, 640, 360, 961, 4, 0, true}},
        {1, 2564, 1440, false, {2564, 1440, 3846, 427, 240, 641, 4, 1, true}},
        {0, 1920, 540, true, {1920, 540, 3840, 640, 180, 1280, 1, 1, false}},
    };
    const auto fields = [](const capture_format& x) {
        return std::make_tuple(x.full_width, x.full_height, x.full_stride, x.preview_width, x.preview_height,
                               x.preview_stride, x.full_mode, x.preview_mode, x.preview_enabled);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.format << " " << c.width << "x" << c.height);
        EXPECT_EQ(fields(derive_capture_format(c.format, c.width, c.height, capture_stride(c.format, c.width), c.full_only)),
                  fields(c.expected));
    }
    EXPECT_EQ(std::make_tuple(preview_period_for(50000), preview_period_for(49999)), std::make_tuple(2u, 1u));
    // Period 2 progressive: the first pair has none, the second one; interlaced input has one on every pair.
    EXPECT_EQ(std::make_tuple(preview_due(1, 2, false), preview_due(2, 2, false), preview_due(1, 2, true)),
              std::make_tuple(false, true, true));
}

// Whole MiB; one that would pass the end goes back to the base, one that exactly fills the rest stays,
// one that can never fit (or is empty) is refused; a window at the top of the address space never wraps to 0.
TEST(BufferRing, RoundsToMegabytesWrapsAndRefusesWhatCanNeverFit) {
    const struct {
        uint32_t base, size;
        std::vector<std::pair<uint32_t, uint32_t>> allocs;  // bytes asked, address given
    } cases[] = {
        {0x10000000, 0x3000000,
         {{3840 * 2160 * 2, 0x10000000}, {1, 0x11000000}, {0x100000, 0x11100000}, {16 * 0x100000, 0x11200000},
          {16 * 0x100000, 0x10000000}}},
        {0x10000000, 0x200000, {{0x300000, buffer_ring::no_buffer}, {0, buffer_ring::no_buffer}, {0x200000, 0x10000000}}},
        {0xffc00000u, 0x400000, {{0x200000, 0xffc00000u}, {0x200000, 0xffe00000u}, {0x200000, 0xffc00000u}}},
    };
    for (const auto& c : cases) {
        buffer_ring ring(c.base, c.size);
        for (const auto& [bytes, address] : c.allocs) EXPECT_EQ(ring.alloc(bytes), address) << std::hex << c.base << " " << bytes;
    }
}

TEST(AudioCapture, RateBandEdgesAndTheRingEndingExactlyAtItsEnd) {
    const struct {
        uint32_t measured, rate, valid;
    } cases[] = {
        {479, 48000, 1}, {481, 48000, 1}, {440, 44100, 1}, {442, 44100, 1}, {959, 96000, 1}, {961, 96000, 1},
        {319, 32000, 1}, {321, 32000, 1}, {478, 48000, 0}, {482, 48000, 0}, {439, 48000, 0}, {443, 48000, 0},
        {958, 48000, 0}, {962, 48000, 0}, {318, 48000, 0}, {322, 48000, 0}, {0, 48000, 0},
    };
    for (const auto& c : cases) {
        uint32_t valid = 7;
        EXPECT_EQ(audio_capture::rate_for(c.measured, valid), c.rate) << c.measured;
        EXPECT_EQ(valid, c.valid) << c.measured;
    }
    const uint32_t base = 0x1000, bytes = 0x100;
    for (const auto& [size, offsets] : {std::make_pair(3 * bytes, std::vector<uint32_t>{0, bytes, 2 * bytes, 0}),
                                        std::make_pair(3 * bytes - 1, std::vector<uint32_t>{0, bytes, 0})}) {
        audio_ring ring(base, size);
        for (const uint32_t expected : offsets) EXPECT_EQ(ring.take(bytes) - base, expected) << size;
    }
}

TEST(TrackDecode, FormatBitsInPriorityOrderAndFramePeriodBandEdges) {
    const struct {
        uint32_t value, valid;
        int32_t width, height;
        uint32_t interlaced;
    } formats[] = {
        {0x411a00e0, 1, 1920, 1080, 0}, {0x411a0060, 1, 1920, 540, 1}, {0x9c400020, 1, 1280, 720, 0},
        {0x411a001f, 0, 0, 0, 0},
    };
    for (const auto& c : formats) {
        const signal_info s = track::decode(c.value);
        EXPECT_EQ(std::make_tuple(s.valid, s.width, s.height, s.interlaced), std::make_tuple(c.valid, c.width, c.height, c.interlaced))
            << std::hex << c.value;
    }
    const struct {
        uint32_t period;
        int32_t n, d;
    } periods[] = {
        {16649, 60000, 1001}, {16650, 60000, 1000}, {16682, 60000, 1000}, {16683, 60000, 1001}, {16699, 60000, 1001},
        {16700, 60000, 1000}, {19983, 60000, 1000}, {19984, 50000, 1000}, {20016, 50000, 1000}, {20017, 60000, 1000},
        {33316, 60000, 1000}, {33317, 30000, 1000}, {33349, 30000, 1000}, {33350, 30000, 1001}, {33382, 30000, 1001},
        {33383, 60000, 1000}, {39983, 60000, 1000}, {39984, 25000, 1000}, {40016, 25000, 1000}, {40017, 60000, 1000},
        {41649, 60000, 1000}, {41650, 24000, 1000}, {41682, 24000, 1000}, {41683, 60000, 1000}, {41691, 60000, 1000},
        {41692, 24000, 1001}, {41724, 24000, 1001}, {41725, 60000, 1000},
    };
    for (const auto& c : periods) {
        const signal_info s = track::decode(c.period << 16 | 0x80);
        EXPECT_EQ(std::make_tuple(s.rate_n, s.rate_d), std::make_tuple(c.n, c.d)) << c.period;
    }
    EXPECT_EQ(track::integer_rate(signal_info{}), 0);  // a record never written
}

// CLOCK_REALTIME based: within a second of the wall clock, and it never goes back between two reads.
TEST(Timecode, CountsHundredsOfNanosecondsFromTheEpochAndNeverGoesBack) {
    int64_t previous = timecode_now();
    EXPECT_LT(std::llabs(previous - static_cast<int64_t>(std::time(nullptr)) * 10000000), 2 * 10000000);
    for (int i = 0; i < 100000; ++i) {
        const int64_t t = timecode_now();
        ASSERT_GE(t, previous);
        previous = t;
    }
}
