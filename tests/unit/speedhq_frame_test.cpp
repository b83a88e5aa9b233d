// The compressor's pure parts: tables, slots, output ring, coded geometry, slice trimming and assembly.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "media/compressed_frame_record.h"
#include "media/output_ring.h"
#include "media/quality_slots.h"
#include "media/slice_assembly.h"
#include "media/speedhq_tables.h"
#include "platform/ndi_types.h"

TEST(SpeedHqTables, FormulaForEveryQuality) {
    const auto low = speedhq::table_for(0);
    EXPECT_EQ(low[1], 328);  // (0x80000 + 800) / 1600
    for (int q = 0; q <= 99; ++q) {
        SCOPED_TRACE(q);
        const auto table = speedhq::table_for(q);
        EXPECT_EQ(table[0], 32768);
        for (size_t i = 1; i < 64; ++i) {
            const double step = speedhq::intra_matrix[i] * (100.0 - q) / 16.0;
            // A Q15 reciprocal of the decoder's step, rounded to nearest, never above 1.0.
            EXPECT_NEAR(table[i], std::min(32768.0, 32768.0 / step), 0.5 + 1e-9) << i;
        }
    }
    EXPECT_EQ(speedhq::clamp_quality(100), 99);
    EXPECT_EQ(speedhq::clamp_quality(-1), 0);
    EXPECT_EQ(speedhq::table_for(100), speedhq::table_for(99));
}

TEST(SpeedHqTables, RegisterWords) {
    EXPECT_EQ(speedhq::table_word(7, 63, 0x1234), 0x80000000u | 7u << 26 | 63u << 20 | 0x1234u);
    EXPECT_EQ(speedhq::control_word(5, 2, 3, false, true), 0x00023205u);
    EXPECT_EQ(speedhq::control_word(0, 0, 3, true, false), 0x00013000u);
}

TEST(QualitySlots, ReuseAndEviction) {
    quality_slots slots;
    EXPECT_EQ(slots.find(50), -1);
    EXPECT_EQ(slots.claim(50), 0);
    EXPECT_EQ(slots.find(51), -1);
    EXPECT_EQ(slots.claim(51), 1);
    EXPECT_EQ(slots.find(50), 0);  // 50, 51, 50: the third reuses slot 0
    for (int q = 60; q < 63; ++q) slots.claim(q);
    EXPECT_EQ(slots.find(50), 0);  // four other loads (51, 60..62): still among the five newest
    slots.claim(63);
    EXPECT_EQ(slots.find(50), -1);  // five other loads: gone, the next load takes a new slot
    EXPECT_EQ(slots.find(51), 1);
    EXPECT_EQ(slots.claim(50), 6);
    EXPECT_EQ(slots.claim(70), 7);
    EXPECT_EQ(slots.claim(71), 0);  // round the ring
    EXPECT_EQ(slots.find(71), 0);
}

TEST(OutputRing, SizesAndWrap) {
    EXPECT_EQ(output_ring::slice_bytes(1920, 1080), 1060928u);
    output_ring ring(0, 0x7ff0000);
    EXPECT_EQ(ring.alloc(4 * 1060928ull), 0u);
    EXPECT_EQ(ring.next(), 4247552u);
    output_ring small(0x1000, 3 * 4096);
    EXPECT_EQ(small.alloc(5000), 0x1000u);
    EXPECT_EQ(small.alloc(4096), 0x3000u);
    EXPECT_EQ(small.alloc(4097), 0x1000u);  // would pass the end: back to the start
    EXPECT_EQ(small.alloc(4 * 4096), output_ring::no_area);
}

TEST(CompressedRecord, CodedWidthFlagsAndFourCc) {
    const struct {
        int format, width, stream;
        int coded, pad, is420;
        uint32_t fourcc;
    } cases[] = {
        {0, 426, 1, 416, 1, 0, ndi::fourcc_shq2}, {0, 720, 0, 720, 1, 0, ndi::fourcc_SHQ2},
        {1, 1000, 0, 960, 0, 1, ndi::fourcc_SHQ0}, {1, 640, 1, 640, 0, 1, ndi::fourcc_shq0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        video_capture::frame_t captured;
        captured.format = c.format, captured.width = c.width, captured.height = 360;
        captured.stride = c.width * 2, captured.stream = c.stream, captured.field = 1, captured.timecode = 1234;
        const auto f = make_compressed_record(captured);
        EXPECT_EQ(std::make_tuple(f->width, f->pad_width, f->is_420, f->fourcc, f->stride, f->field, f->timecode),
                  std::make_tuple(c.coded, c.pad, c.is420, c.fourcc, c.width * 2, 1, 1234));
    }
}

TEST(SliceTrim, PaddingRule) {
    const struct {
        std::vector<uint8_t> bytes;
        uint32_t length;
    } cases[] = {
        {{0x10, 0x35, 0x80, 0x00, 0x00}, 4},  // top bit set: one zero byte stays
        {{0x10, 0x35, 0x7f, 0x00, 0x00}, 3},  // no closing zero needed
        {{0x00, 0x00, 0x00, 0x00}, 0},        // nothing coded
        {{0x10, 0x35, 0x80}, 3},              // no padding at all
    };
    for (const auto& c : cases) EXPECT_EQ(slice_assembly::trimmed_length(c.bytes.data(), uint32_t(c.bytes.size())), c.length);
    EXPECT_EQ(slice_assembly::trimmed_length(nullptr, 0), 0u);
}

namespace {
// A slice of `coded` bytes with a stale prefix, padded with zeros to `produced` bytes.
void putSlice(uint8_t* at, uint32_t coded, uint32_t produced, uint8_t fill) {
    std::memset(at, 0, produced);
    std::memset(at, fill, coded);
    at[0] = at[1] = at[2] = 0xee;
    at[3] = 0x11;  // kept: only the low 24 bits are the length
    at[coded - 1] = 0x80;
}
}  // namespace

TEST(SliceAssembly, CollectAndAssembleForEachCoreCount) {
    const uint32_t coded[4] = {20, 9, 33, 17};
    for (int cores : {1, 2, 4}) {
        SCOPED_TRACE(cores);
        compressed_video_frame f;
        f.quality = 88;
        f.core_area = 256 * uint32_t(4 / cores);
        std::vector<uint8_t> area(1024, 0xaa);
        std::array<uint32_t, 4> produced{};
        std::array<uint8_t*, 4> expected{};
        const int k = 4 / cores;
        uint8_t* p = area.data();
        for (int i = 0; i < 4; ++i) {
            if (i % k == 0) p = area.data() + (i / k) * f.core_area;
            produced[size_t(i)] = (coded[i] + 1 + 7) / 8 * 8;  // at least one zero of padding
            putSlice(p, coded[i], produced[size_t(i)], uint8_t(0x41 + i));
            expected[size_t(i)] = p;
            p += produced[size_t(i)];
        }
        ASSERT_EQ(slice_assembly::collect(f, produced, cores, area.data()), 0);
        uint32_t total = 8;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(f.slice_ptr[i], expected[size_t(i)]);
            EXPECT_EQ(f.slice_len[i], coded[i] + 1);  // 0x80 last: its zero byte stays
            total += f.slice_len[i];
        }
        EXPECT_EQ(f.size, total);
        slice_assembly::assemble(f);
        ASSERT_EQ(f.size, total);
        const uint8_t* out = f.data.get();
        EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{88, 4, 0, 0}));
        size_t at = 4;
        for (int i = 0; i < 4; ++i) {
            const uint32_t len = out[at] | out[at + 1] << 8 | out[at + 2] << 16;
            EXPECT_EQ(len, f.slice_len[i]);
            EXPECT_EQ(std::make_tuple(out[at + 3], out[at + 4], out[at + len - 2], out[at + len - 1]),
                      std::make_tuple(0x11, 0x41 + i, 0x80, 0x00));
            at += len;
        }
        EXPECT_EQ(std::vector<uint8_t>(out + at, out + at + 4), (std::vector<uint8_t>(4, 0)));
    }
}

TEST(SliceAssembly, OverflowingSlicesAreCountedAndNotRead) {
    compressed_video_frame f;
    f.core_area = 64;
    std::vector<uint8_t> area(256, 0);
    // One core: the second slice runs past the area although no single size exceeds it.
    EXPECT_EQ(slice_assembly::collect(f, {40, 40, 0, 0}, 1, area.data()), 1);
    EXPECT_EQ(f.slice_len[1], 0u);
    // Four cores: a size larger than the area.
    EXPECT_EQ(slice_assembly::collect(f, {8, 72, 8, 0xffffffffu}, 4, area.data()), 2);
}
