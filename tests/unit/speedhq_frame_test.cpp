// The compressor's pure parts: tables, slots, output ring, coded geometry and slice trimming; the compress
// scenarios decode whole assembled frames for every core count.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "media/compressed_frame_record.h"
#include "media/output_ring.h"
#include "media/quality_slots.h"
#include "media/slice_assembly.h"
#include "media/speedhq_tables.h"
#include "platform/ndi_types.h"

TEST(SpeedHqTables, FormulaForEveryQualityAndTheRegisterWords) {
    EXPECT_EQ(speedhq::table_for(0)[1], 328);  // (0x80000 + 800) / 1600
    for (int q = 0; q <= 99; ++q) {
        const auto table = speedhq::table_for(q);
        EXPECT_EQ(table[0], 32768) << q;
        for (size_t i = 1; i < 64; ++i)  // a Q15 reciprocal of the decoder's step, rounded, never above 1.0
            EXPECT_NEAR(table[i], std::min(32768.0, 32768.0 / (speedhq::intra_matrix[i] * (100.0 - q) / 16.0)), 0.5 + 1e-9)
                << q << " " << i;
    }
    EXPECT_EQ(std::make_tuple(speedhq::clamp_quality(100), speedhq::clamp_quality(-1)), std::make_tuple(99, 0));
    EXPECT_EQ(speedhq::table_word(7, 63, 0x1234), 0x80000000u | 7u << 26 | 63u << 20 | 0x1234u);
    EXPECT_EQ(speedhq::control_word(5, 2, 3, false, true), 0x00023205u);
    EXPECT_EQ(speedhq::control_word(0, 0, 3, true, false), 0x00013000u);
}

TEST(QualitySlots, ReuseAndEviction) {
    quality_slots slots;
    EXPECT_EQ(slots.find(50), -1);
    EXPECT_EQ(slots.claim(50), 0);
    EXPECT_EQ(slots.claim(51), 1);
    for (int q = 60; q < 63; ++q) slots.claim(q);
    EXPECT_EQ(slots.find(50), 0);  // four other loads (51, 60..62): still among the five newest
    slots.claim(63);
    EXPECT_EQ(slots.find(50), -1);  // five: gone, the next load takes a new slot
    EXPECT_EQ(slots.find(51), 1);
    EXPECT_EQ(slots.claim(50), 6);
    EXPECT_EQ(slots.claim(70), 7);
    EXPECT_EQ(slots.claim(71), 0);  // round the ring
}

TEST(OutputRing, SizesAndWrap) {
    EXPECT_EQ(output_ring::slice_bytes(1920, 1080), 1060928u);
    output_ring small(0x1000, 3 * 4096);
    EXPECT_EQ(small.alloc(5000), 0x1000u);
    EXPECT_EQ(small.alloc(4096), 0x3000u);
    EXPECT_EQ(small.next(), 0x4000u);
    EXPECT_EQ(small.alloc(4097), 0x1000u);  // would pass the end: back to the start
    EXPECT_EQ(small.alloc(4 * 4096), output_ring::no_area);
}

TEST(CompressedRecord, CodedWidthIsCutToTheBlockSize) {
    const struct {
        int format, width, stream;
        int coded, pad, is420;
        uint32_t fourcc;
    } cases[] = {{0, 426, 1, 416, 1, 0, ndi::fourcc_shq2}, {1, 1000, 0, 960, 0, 1, ndi::fourcc_SHQ0}};
    for (const auto& c : cases) {
        video_capture::frame_t captured;
        captured.format = c.format, captured.width = c.width, captured.height = 360;
        captured.stride = c.width * 2, captured.stream = c.stream, captured.field = 1, captured.timecode = 1234;
        const auto f = make_compressed_record(captured);
        EXPECT_EQ(std::make_tuple(f->width, f->pad_width, f->is_420, f->fourcc, f->stride, f->field, f->timecode),
                  std::make_tuple(c.coded, c.pad, c.is420, c.fourcc, c.width * 2, 1, 1234))
            << c.width;
    }
}

TEST(SliceTrim, PaddingRule) {
    const std::pair<std::vector<uint8_t>, uint32_t> cases[] = {
        {{0x10, 0x35, 0x80, 0x00, 0x00}, 4},  // top bit set: one zero byte stays
        {{0x10, 0x35, 0x7f, 0x00, 0x00}, 3},
        {{0x00, 0x00, 0x00, 0x00}, 0},
        {{0x10, 0x35, 0x80}, 3},  // no padding at all
    };
    for (const auto& [bytes, length] : cases) EXPECT_EQ(slice_assembly::trimmed_length(bytes.data(), uint32_t(bytes.size())), length);
    EXPECT_EQ(slice_assembly::trimmed_length(nullptr, 0), 0u);
}

TEST(SliceAssembly, OverflowingSlicesAreCountedAndNotRead) {
    compressed_video_frame f;
    f.core_area = 64;
    std::vector<uint8_t> area(256, 0);
    // One core: the second slice runs past the area although no single size exceeds it.
    EXPECT_EQ(slice_assembly::collect(f, {40, 40, 0, 0}, 1, area.data()), 1);
    EXPECT_EQ(f.slice_len[1], 0u);
    EXPECT_EQ(slice_assembly::collect(f, {8, 64, 8, 0}, 4, area.data()), 0);  // exactly the area fits
    EXPECT_EQ(slice_assembly::collect(f, {8, 72, 8, 0xffffffffu}, 4, area.data()), 2);
}
