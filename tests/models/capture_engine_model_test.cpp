// The video scenario's "nothing clipped" relies on the capture engine counting what it clipped.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/app/virtual_camera.h"
#include "sim/media/test_picture.h"
#include "support/quiet_settings.h"

using namespace std::chrono_literals;

TEST(CaptureEngineModel, NeverWritesOutsideTheRawWindowAndCountsWhatItClipped) {
    sim::VirtualCamera camera(quietSettings("1080p60"));
    auto& fpga = camera.fpga();
    auto& memory = camera.root().memory();
    const uint32_t full = 512 * 4, end = sim::MemoryLayout::kVideoPhysical + sim::MemoryLayout::kVideoSize;
    auto* const last = static_cast<uint8_t*>(memory.map(end - 0x100000, 0x100000));
    auto* const beyond = static_cast<uint8_t*>(memory.map(end, 0x400000));
    fpga.write8(full + 2, 0x80);  // interrupt on the picture's end
    fpga.write8(full + 1, 1);
    auto& line = fpga.line(1);
    uint32_t seen = line.eventCount();
    line.unmask();
    fpga.write32(full + 8, end - 0x100000);  // a 4 MB picture in the window's last megabyte
    fpga.write8(full, 1);
    ASSERT_GE(line.wait(seen, 300ms), 0);
    EXPECT_EQ(camera.capture().full().counters().clipped, 1u);
    EXPECT_EQ(last[1], sim::TestPicture::kBars[0].y);  // what fits is written
    EXPECT_EQ(std::count(beyond, beyond + 0x400000, 0), 0x400000);
    memory.unmap(last, 0x100000);
    memory.unmap(beyond, 0x400000);
}
