// The tracking block's measurement of every simulated source, through the application's decoder.
#include <gtest/gtest.h>

#include "media/track.h"
#include "sim/app/virtual_camera.h"
#include "support/quiet_settings.h"

using namespace std::chrono_literals;

TEST(TrackingBlockModel, EverySourceDecodesToItsSignal) {
    const struct {
        const char* input;
        uint32_t valid;
        int width, height, interlaced, rate;
    } cases[] = {
        {"1080p60", 1, 1920, 1080, 0, 60},   {"1080p59.94", 1, 1920, 1080, 0, 59}, {"1080p50", 1, 1920, 1080, 0, 50},
        {"1080p30", 1, 1920, 1080, 0, 30},   {"1080p29.97", 1, 1920, 1080, 0, 29}, {"1080p25", 1, 1920, 1080, 0, 25},
        {"1080p24", 1, 1920, 1080, 0, 24},   {"1080p23.98", 1, 1920, 1080, 0, 23}, {"1080i60", 1, 1920, 540, 1, 60},
        {"1080i59.94", 1, 1920, 540, 1, 59}, {"1080i50", 1, 1920, 540, 1, 50},     {"720p60", 1, 1280, 720, 0, 60},
        {"720p59.94", 1, 1280, 720, 0, 59},  {"720p50", 1, 1280, 720, 0, 50},      {"720p30", 1, 1280, 720, 0, 30},
        {"720p25", 1, 1280, 720, 0, 25},     {"720p24", 1, 1280, 720, 0, 24},      {"576i", 0, 0, 0, 0, 50},
        {"480i", 0, 0, 0, 0, 59},            {"none", 0, 0, 0, 0, 59},
    };
    ASSERT_EQ(std::size(cases), sim::InputFormat::names().size());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const signal_info s = track::decode(sim::TrackingBlock::measure(*sim::InputFormat::parse(c.input)));
        EXPECT_EQ(s.valid, c.valid);
        EXPECT_EQ(s.width, c.width);
        EXPECT_EQ(s.height, c.height);
        EXPECT_EQ(static_cast<int>(s.interlaced), c.interlaced);
        EXPECT_EQ(track::integer_rate(s), c.rate);
    }
}

TEST(TrackingBlockModel, InterruptsOnChangesOnlyWhileEnabled) {
    sim::VirtualCamera camera(quietSettings());
    auto& line = camera.fpga().line(4);
    auto& input = camera.input();
    const uint32_t word = 560 * 4;
    EXPECT_EQ(camera.fpga().read32(word) & 0xe0, 0x80u);
    EXPECT_EQ(camera.fpga().read32(word) >> 16, 16683u);

    input.set(*sim::InputFormat::parse("720p50"));  // disabled: measured, not signalled
    EXPECT_EQ(line.eventCount(), 0u);
    EXPECT_EQ(camera.fpga().read32(word) & 0xe0, 0x20u);

    camera.fpga().write8(word, 3);
    input.set(*sim::InputFormat::parse("720p50"));  // no change, no interrupt
    EXPECT_EQ(line.eventCount(), 0u);
    input.set(*sim::InputFormat::parse("none"));
    EXPECT_EQ(line.eventCount(), 1u);
    EXPECT_EQ(camera.fpga().read32(word) & ~0x7u, 0u);
    camera.fpga().write8(word, 7);  // acknowledge keeps it enabled
    line.unmask();
    input.set(*sim::InputFormat::parse("1080i50"));
    EXPECT_EQ(line.eventCount(), 2u);
    camera.fpga().write8(word, 0);
    line.unmask();
    input.set(*sim::InputFormat::parse("1080p50"));
    EXPECT_EQ(line.eventCount(), 2u);
}
