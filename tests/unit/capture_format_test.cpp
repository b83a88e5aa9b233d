// The capture's mode table, preview cadence and buffer ring.
#include <gtest/gtest.h>

#include "media/buffer_ring.h"
#include "media/capture_format.h"

#include <tuple>
#include <vector>

TEST(CaptureFormat, ModeAndPreviewTable) {
    const struct {
        int32_t format, width, height;
        bool full_only;
        capture_format expected;
    } cases[] = {
        {0, 1920, 1080, false, {1920, 1080, 3840, 640, 360, 1280, 1, 1, true}},
        {0, 1280, 720, false, {1280, 720, 2560, 640, 360, 1280, 1, 0, true}},
        {0, 1281, 720, false, {1281, 720, 2562, 640, 360, 1281, 1, 0, true}},
        {0, 1282, 720, false, {1282, 720, 2564, 427, 240, 854, 1, 1, true}},
        {0, 721, 480, false, {721, 480, 1442, 360, 240, 721, 1, 0, true}},
        {0, 720, 288, false, {720, 288, 1440, 720, 288, 1440, 1, 0, false}},
        {1, 1920, 1080, false, {1920, 1080, 2880, 480, 270, 720, 4, 0, true}},
        {1, 2563, 1440, false, {2563, 1440, 3844, 640, 360, 961, 4, 0, true}},
        {1, 3840, 2160, false, {3840, 2160, 5760, 640, 360, 960, 4, 1, true}},
        {0, 1920, 540, true, {1920, 540, 3840, 640, 180, 1280, 1, 1, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.format << " " << c.width << "x" << c.height);
        const capture_format f =
            derive_capture_format(c.format, c.width, c.height, capture_stride(c.format, c.width), c.full_only);
        const auto fields = [](const capture_format& x) {
            return std::make_tuple(x.full_width, x.full_height, x.full_stride, x.preview_width, x.preview_height,
                                   x.preview_stride, x.full_mode, x.preview_mode, x.preview_enabled);
        };
        EXPECT_EQ(fields(f), fields(c.expected));
    }
}

TEST(CaptureFormat, PreviewCadence) {
    EXPECT_EQ(preview_period_for(60000), 2u);
    EXPECT_EQ(preview_period_for(50000), 2u);
    EXPECT_EQ(preview_period_for(49999), 1u);
    EXPECT_EQ(preview_period_for(30000), 1u);
    // Period 2, progressive: the first pair has none, the second has one.
    EXPECT_FALSE(preview_due(1, 2, false));
    EXPECT_TRUE(preview_due(2, 2, false));
    EXPECT_TRUE(preview_due(1, 1, false));
    // Interlaced input carries a preview on every pair whatever the period.
    EXPECT_TRUE(preview_due(1, 2, true));
}

// Buffers are rounded up to whole MiB; one that would pass the end goes back to the base, one that
// exactly fills the rest stays, one that can never fit (or is empty) is refused.
TEST(BufferRing, RoundsToMegabytesWrapsAndRefusesWhatCanNeverFit) {
    const struct {
        uint32_t base, size;
        std::vector<std::pair<uint32_t, uint32_t>> allocs;  // bytes asked, address given
    } cases[] = {
        {0x10000000, 0x3000000,  // 48 MiB; 3840x2160x2 bytes take 16 MiB
         {{3840 * 2160 * 2, 0x10000000}, {1, 0x11000000}, {0x100000, 0x11100000}, {16 * 0x100000, 0x11200000},
          {16 * 0x100000, 0x10000000}}},
        {0x10000000, 0x400000, {{0x300000, 0x10000000}, {0x100000, 0x10300000}, {0x100000, 0x10000000}}},
        {0x10000000, 0x200000,
         {{0x300000, buffer_ring::no_buffer}, {0, buffer_ring::no_buffer}, {0x200000, 0x10000000}}},
        // A window ending at the top of the address space does not wrap to zero.
        {0xffc00000u, 0x400000, {{0x200000, 0xffc00000u}, {0x200000, 0xffe00000u}, {0x200000, 0xffc00000u}}},
    };
    for (const auto& c : cases) {
        buffer_ring ring(c.base, c.size);
        for (const auto& [bytes, address] : c.allocs)
            EXPECT_EQ(ring.alloc(bytes), address) << std::hex << c.base << " " << bytes;
        if (c.size == 0x3000000) {
            EXPECT_EQ(ring.next(), 0x11000000u);
        }
    }
}
