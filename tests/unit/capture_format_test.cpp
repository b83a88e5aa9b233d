// The capture's mode table, preview cadence and buffer ring.
#include <gtest/gtest.h>

#include "media/buffer_ring.h"
#include "media/capture_format.h"

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
        const capture_format& e = c.expected;
        EXPECT_EQ(f.full_width, e.full_width);
        EXPECT_EQ(f.full_height, e.full_height);
        EXPECT_EQ(f.full_stride, e.full_stride);
        EXPECT_EQ(f.preview_width, e.preview_width);
        EXPECT_EQ(f.preview_height, e.preview_height);
        EXPECT_EQ(f.preview_stride, e.preview_stride);
        EXPECT_EQ(f.full_mode, e.full_mode);
        EXPECT_EQ(f.preview_mode, e.preview_mode);
        EXPECT_EQ(f.preview_enabled, e.preview_enabled);
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

TEST(BufferRing, RoundsToMegabytesAndWraps) {
    buffer_ring ring(0x10000000, 0x3000000);  // 48 MiB
    EXPECT_EQ(ring.alloc(3840 * 2160 * 2), 0x10000000u);  // 16,588,800 bytes take 16 MiB
    EXPECT_EQ(ring.next(), 0x11000000u);
    EXPECT_EQ(ring.alloc(1), 0x11000000u);
    EXPECT_EQ(ring.alloc(0x100000), 0x11100000u);
    EXPECT_EQ(ring.alloc(16 * 0x100000), 0x11200000u);  // ends 0x12200000, inside
    // The next 16 MiB would pass the end: back to the base.
    EXPECT_EQ(ring.alloc(16 * 0x100000), 0x10000000u);
    EXPECT_EQ(ring.next(), 0x11000000u);
}

TEST(BufferRing, ABufferExactlyFillingTheRestStaysInPlace) {
    buffer_ring ring(0x10000000, 0x400000);
    EXPECT_EQ(ring.alloc(0x300000), 0x10000000u);
    EXPECT_EQ(ring.alloc(0x100000), 0x10300000u);
    EXPECT_EQ(ring.alloc(0x100000), 0x10000000u);
}

TEST(BufferRing, RefusesWhatCanNeverFit) {
    buffer_ring ring(0x10000000, 0x200000);
    EXPECT_EQ(ring.alloc(0x300000), buffer_ring::no_buffer);
    EXPECT_EQ(ring.alloc(0), buffer_ring::no_buffer);
    EXPECT_EQ(ring.alloc(0x200000), 0x10000000u);
}

TEST(BufferRing, AWindowEndingAtTheTopOfTheAddressSpaceDoesNotWrapToZero) {
    buffer_ring ring(0xffc00000u, 0x400000);
    EXPECT_EQ(ring.alloc(0x200000), 0xffc00000u);
    EXPECT_EQ(ring.alloc(0x200000), 0xffe00000u);
    EXPECT_EQ(ring.alloc(0x200000), 0xffc00000u);
}
