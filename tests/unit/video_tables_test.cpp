// The edges of the video and audio paths' pure tables; the scenarios run their nominal values.
#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <set>
#include <tuple>
#include <vector>

#include "hw/device_cyclone.h"
#include "media/audio_capture.h"
#include "media/audio_ring.h"
#include "media/buffer_ring.h"
#include "media/capture_format.h"
#include "media/compressed_frame_record.h"
#include "media/quality_slots.h"
#include "media/slice_assembly.h"
#include "media/track.h"
#include "status/hdmi_edid.h"
#include "status/hdmi_format.h"

TEST(Device, ReservedSplitKeepsTheLast64KiBForAudioAndOnlyTheCycloneSetsBit31) {
    device d;
    EXPECT_EQ(std::make_tuple(d.get_area(1), d.get_area(4), d.get_area(-1)), std::make_tuple(address_range{0, 0}, address_range{}, address_range{}));
    d.set_reserved({0x20000000, 0x1000000});
    EXPECT_EQ(std::make_tuple(d.get_area(0), d.get_area(3)), std::make_tuple(address_range{0, 0xff0000}, address_range{0xff0000, 0x10000}));
    d.set_reserved({0x20000000, 0x8000});  // too small to split: never an area past its end
    EXPECT_EQ(std::make_tuple(d.get_area(0), d.get_area(3)), std::make_tuple(address_range{0, 0}, address_range{0, 0x8000}));
    d.set_raw({0, 0x4000000});  // no video region: the fallback window
    EXPECT_EQ(d.get_raw(), (address_range{0, 0x20000000}));
    const device_cyclone cyclone;
    EXPECT_EQ(std::make_pair(d.to_bus(0x7fffffffu), static_cast<const device&>(cyclone).to_bus(0x7fffffffu)), std::make_pair(0x7fffffffu, 0xffffffffu));
}

// Format, width, height, full only; then full width, height, stride, preview width, height, stride, modes, enabled.
TEST(CaptureFormat, ModeAndPreviewTableEdges) {
    const std::tuple<int32_t, int32_t, int32_t, bool, std::tuple<int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t, bool>>
        cases[] = {
            {0, 1281, 720, false, {1281, 720, 2562, 640, 360, 1281, 1, 0, true}},
            {0, 1282, 720, false, {1282, 720, 2564, 427, 240, 854, 1, 1, true}},
            {0, 720, 288, false, {720, 288, 1440, 720, 288, 1440, 1, 0, false}},
            {1, 2564, 1440, false, {2564, 1440, 3846, 427, 240, 641, 4, 1, true}},
            {0, 1920, 540, true, {1920, 540, 3840, 640, 180, 1280, 1, 1, false}},
        };
    for (const auto& [format, width, height, fullOnly, expected] : cases) {
        const capture_format x = derive_capture_format(format, width, height, capture_stride(format, width), fullOnly);
        EXPECT_EQ(std::make_tuple(x.full_width, x.full_height, x.full_stride, x.preview_width, x.preview_height,
                                  x.preview_stride, x.full_mode, x.preview_mode, x.preview_enabled),
                  expected)
            << format << " " << width << "x" << height;
    }
    EXPECT_EQ(std::make_tuple(preview_period_for(50000), preview_period_for(49999)), std::make_tuple(2u, 1u));
    // Period 2 progressive: the first pair has none, the second one; interlaced input has one on every pair.
    EXPECT_EQ(std::make_tuple(preview_due(1, 2, false), preview_due(2, 2, false), preview_due(1, 2, true)),
              std::make_tuple(false, true, true));
}

// 4:2:2 pictures are coded 16 wide with padding when not a multiple of 64; 4:2:0 ones cut to 64.
TEST(CompressedRecord, GeometryAndFourccFollowTheFormatAndStream) {
    video_capture::frame_t captured{};
    captured.width = 1000;
    const auto full = make_compressed_record(captured);
    captured.format = 1, captured.stream = 1;
    const auto preview = make_compressed_record(captured);
    EXPECT_EQ(std::make_tuple(full->width, full->pad_width, full->is_420, full->fourcc),
              std::make_tuple(992, 1, 0, ndi::fourcc_SHQ2));
    EXPECT_EQ(std::make_tuple(preview->width, preview->pad_width, preview->is_420, preview->fourcc),
              std::make_tuple(960, 0, 1, ndi::fourcc_shq0));
}

// Each detailed timing of the EDID is the standard one (pixel clock in 10 kHz; active, blanking, sync
// offset and sync width in pixels, then in lines), each block sums to zero, the video codes are the standard ones.
TEST(Edid, DetailedTimingsAndVideoCodesAreTheStandardOnesAndEachBlockSumsToZero) {
    const edid_bytes& e = hdmi_edid();
    using Timing = std::array<int, 9>;
    const auto timing = [&](size_t at) {
        const int low = e[at + 11];
        return Timing{e[at] | e[at + 1] << 8, e[at + 2] | (e[at + 4] & 0xF0) << 4, e[at + 3] | (e[at + 4] & 0x0F) << 8,
                      e[at + 8] | (low >> 6) << 8, e[at + 9] | (low >> 4 & 3) << 8, e[at + 5] | (e[at + 7] & 0xF0) << 4,
                      e[at + 6] | (e[at + 7] & 0x0F) << 8, e[at + 10] >> 4 | (low >> 2 & 3) << 4, (e[at + 10] & 0x0F) | (low & 3) << 4};
    };
    EXPECT_EQ(timing(54), (Timing{14850, 1920, 280, 88, 44, 1080, 45, 4, 5}));        // 1080p60
    EXPECT_EQ(timing(72), (Timing{7425, 1280, 370, 110, 40, 720, 30, 5, 5}));         // 720p60
    EXPECT_EQ(timing(128 + 37), (Timing{7425, 1920, 280, 88, 44, 540, 22, 2, 5}));    // 1080i60
    EXPECT_EQ(timing(128 + 55), (Timing{7425, 1920, 720, 528, 44, 540, 22, 2, 5}));   // 1080i50
    for (const size_t block : {size_t{0}, size_t{128}})
        EXPECT_EQ(std::accumulate(e.begin() + long(block), e.begin() + long(block) + 128, 0) % 256, 0) << block;
    // The standard codes of 1080p60 (native), 1080p50/24/25/30, 1080i60/50, 720p60/50/24/25/30, 480i and 576i.
    EXPECT_EQ(std::vector<int>(e.begin() + 133, e.begin() + 149), (std::vector<int>{0x80 | 16, 31, 32, 33, 34, 5, 20, 4, 19, 60, 61, 62, 6, 7, 21, 22}));
}

// Whole MiB; one that would pass the end goes back to the base, one that exactly fills the rest stays, one that can
// never fit (or is empty) is refused; a window at the top never wraps to 0; nor does audio ending at the end.
TEST(BufferRing, RoundsToMegabytesWrapsAndRefusesWhatCanNeverFit) {
    const std::tuple<uint32_t, uint32_t, std::vector<std::pair<uint32_t, uint32_t>>> cases[] = {
        {0x10000000, 0x3000000, {{3840 * 2160 * 2, 0x10000000}, {1, 0x11000000}, {0x100000, 0x11100000},
                                 {16 * 0x100000, 0x11200000}, {16 * 0x100000, 0x10000000}}},
        {0x10000000, 0x200000, {{0x300000, buffer_ring::no_buffer}, {0, buffer_ring::no_buffer}, {0x200000, 0x10000000}}},
        {0xffc00000u, 0x400000, {{0x200000, 0xffc00000u}, {0x200000, 0xffe00000u}, {0x200000, 0xffc00000u}}},
    };
    for (const auto& [base, size, allocs] : cases) {
        buffer_ring ring(base, size);
        for (const auto& [bytes, address] : allocs) EXPECT_EQ(ring.alloc(bytes), address) << std::hex << base << " " << bytes;
    }
    for (const auto& [size, offsets] : {std::make_pair(0x300u, std::vector<uint32_t>{0, 0x100, 0x200, 0}),
                                        std::make_pair(0x2ffu, std::vector<uint32_t>{0, 0x100, 0})}) {
        audio_ring ring(0x1000, size);
        for (const uint32_t expected : offsets) EXPECT_EQ(ring.take(0x100) - 0x1000, expected) << size;
    }
}

// The upper edge of the 48 kHz band, and just past it the fallback to an invalid 48 kHz; the frame period
// band edges where a 1000 and a 1001 divisor meet. The pipeline and tracking scenarios run the nominal values.
TEST(RateBands, AudioAndFramePeriodEdges) {
    for (const auto& [measured, valid] : {std::pair{481u, 1u}, {482u, 0u}}) {
        uint32_t got = 7;
        EXPECT_EQ(audio_capture::rate_for(measured, got), 48000u);
        EXPECT_EQ(got, valid) << measured;
    }
    for (const auto& [period, n, d] : std::vector<std::tuple<uint32_t, int32_t, int32_t>>{
             {16649, 60000, 1001}, {16650, 60000, 1000}, {16682, 60000, 1000}, {16683, 60000, 1001}, {16699, 60000, 1001}, {16700, 60000, 1000},
             {33349, 30000, 1000}, {33350, 30000, 1001}, {41691, 60000, 1000}, {41692, 24000, 1001}, {41724, 24000, 1001}, {41725, 60000, 1000}}) {
        const signal_info s = track::decode(period << 16 | 0xe0);  // bit 7 wins over 6 and 5
        EXPECT_EQ(std::make_tuple(s.rate_n, s.rate_d, s.width, s.height, s.interlaced), std::make_tuple(n, d, 1920, 1080, 0u)) << period;
    }
    EXPECT_EQ(std::make_tuple(track::decode(0x411a001f).valid, track::integer_rate(signal_info{})), std::make_tuple(0u, 0));
}

// Active size, total size, clock: a size or rate outside the table keeps the current format (9); unmeasurable
// input (no clock, no totals, 64 Hz and above) is unknown.
TEST(HdmiFormat, SizeWindowRateLimitAndUnmeasurableInputs) {
    const std::tuple<bool, int, int, int, int, int, int> cases[] = {
        {false, 1916, 1084, 2200, 1125, 23, 17}, {false, 1924, 1076, 2200, 1125, 23, 17}, {false, 1925, 1080, 2200, 1125, 23, 9},
        {false, 1920, 1085, 2200, 1125, 23, 9},  {false, 1920, 1080, 2110, 1125, 23, 17},  // 63 Hz
        {false, 1920, 1080, 2100, 1125, 23, hdmi_format_unknown}, {false, 1920, 1080, 2200, 1125, 0, hdmi_format_unknown},
        {false, 1920, 1080, 0, 1125, 23, hdmi_format_unknown},    {false, 1920, 1080, 2200, 0, 23, hdmi_format_unknown},
        {false, 1920, 1080, 2200, 1125, 35, 9},  {true, 1280, 720, 1650, 750, 47, 9}, {false, 720, 288, 864, 312, 255, 9},
    };
    for (const auto& [interlaced, h, v, hTotal, vTotal, clock, code] : cases) {
        hdmi_timing t;
        t.interlaced = interlaced, t.h_active = h, t.v_active = v, t.h_total = hTotal, t.v_total = vTotal, t.clock = clock;
        EXPECT_EQ(identify_hdmi_format(t, 9).code, code) << h << "x" << v << " of " << hTotal << "x" << vTotal << " at " << clock;
        if (hTotal == 2110 || hTotal == 2100) {
            EXPECT_EQ(hdmi_frame_rate(t), hTotal == 2110 ? 63 : 64);
        }
    }
    const std::set<std::pair<int, int>> pairs = {{5, 6}, {8, 9}, {13, 14}, {16, 17}, {18, 19}, {26, 27}, {29, 30}};
    for (int a = 0; a <= 32; ++a)
        for (int b = 0; b <= 32; ++b)
            EXPECT_EQ(hdmi_pair_partners(a, b), pairs.count({a, b}) + pairs.count({b, a}) > 0) << a << " " << b;
}

// A quality stays loaded while four others are loaded after it; the fifth evicts it; eight slots make a ring.
TEST(QualitySlots, ReuseAndEviction) {
    quality_slots slots;
    EXPECT_EQ(slots.find(50), -1);
    EXPECT_EQ(slots.claim(50), 0);
    for (int q = 60; q < 64; ++q) slots.claim(q);
    EXPECT_EQ(slots.find(50), 0);
    slots.claim(64);
    EXPECT_EQ(slots.find(50), -1);
    EXPECT_EQ(slots.claim(50), 6);
    EXPECT_EQ(slots.claim(70), 7);
    EXPECT_EQ(slots.claim(71), 0);  // round the ring
}

// One core: the second slice runs past the area although no single size exceeds it; four cores: exactly the
// area fits, and a wild size is counted, not read, and never wraps into the area.
TEST(SliceAssembly, OverflowingSlicesAreCountedAndNotRead) {
    compressed_video_frame f;
    f.core_area = 64;
    std::vector<uint8_t> area(256, 0);
    EXPECT_EQ(slice_assembly::collect(f, {40, 40, 0, 0}, 1, area.data()), 1);
    EXPECT_EQ(f.slice_len[1], 0u);
    EXPECT_EQ(slice_assembly::collect(f, {8, 64, 8, 0}, 4, area.data()), 0);
    EXPECT_EQ(slice_assembly::collect(f, {8, 72, 8, 0xffffffffu}, 4, area.data()), 2);
}
