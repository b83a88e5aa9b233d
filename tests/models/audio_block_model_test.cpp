// The audio block model against its register description: buffers filled back to back at the
// input's rate, state and event bits, the interrupt, the measured rate, refused buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "sim/app/virtual_camera.h"
#include "support/quiet_settings.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
constexpr uint32_t kReg0 = sim::AudioBlock::kBlock * 4;
constexpr uint32_t kSamples = 4800;  // 100 ms at 48 kHz: time to look at the state between buffers
constexpr uint32_t kBytes = kSamples * 2 * 4;
constexpr uint32_t kBuffer0 = sim::MemoryLayout::kReservedPhysical + 0x100000;
constexpr uint32_t kBuffer1 = kBuffer0 + kBytes;

void give(sim::FpgaModel& fpga, uint32_t address, uint32_t samples) {
    fpga.write32(kReg0 + 8, address);
    fpga.write32(kReg0 + 12, samples);
    fpga.write8(kReg0, 1);
}

uint32_t state(sim::FpgaModel& fpga) { return fpga.read32(kReg0) & 3; }
uint8_t events(sim::FpgaModel& fpga) { return fpga.read8(kReg0 + 3); }

std::vector<int32_t> samplesAt(sim::VirtualCamera& camera, uint32_t address, uint32_t bytes) {
    void* at = camera.root().memory().map(address, bytes);
    std::vector<int32_t> out(static_cast<int32_t*>(at), static_cast<int32_t*>(at) + bytes / 4);
    camera.root().memory().unmap(at, bytes);
    return out;
}
}  // namespace

TEST(AudioBlockModel, FillsBuffersBackToBackAtTheInputRateAndInterruptsWhenEnabled) {
    sim::VirtualCamera camera(quietSettings("none"));  // audio at its default 48 kHz
    auto& fpga = camera.fpga();
    auto& line = fpga.line(sim::AudioBlock::kLine);
    fpga.write8(kReg0, 0x80);
    fpga.write8(kReg0 + 2, 0x80);  // interrupt on buffer done
    EXPECT_EQ(state(fpga), 0u);
    const auto t0 = std::chrono::steady_clock::now();
    give(fpga, kBuffer0, kSamples);
    EXPECT_EQ(state(fpga), 1u);
    give(fpga, kBuffer1, kSamples);
    EXPECT_EQ(state(fpga), 3u);

    ASSERT_TRUE(waitFor([&] { return line.eventCount() == 1; }, 2000ms));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 100ms) << "4800 samples at 48 kHz take 100 ms";
    EXPECT_EQ(events(fpga) & 0x80, 0x80);
    EXPECT_EQ(state(fpga), 1u) << "the waiting buffer is being filled";
    fpga.write8(kReg0 + 3, 0x80);
    EXPECT_EQ(events(fpga), 0);
    line.unmask();
    ASSERT_TRUE(waitFor([&] { return line.eventCount() == 2; }, 2000ms));
    EXPECT_EQ(state(fpga), 0u);
    EXPECT_EQ(events(fpga), 0xc0) << "done, and the input ran on with no buffer";
    EXPECT_EQ(camera.audio().counters().buffers, 2u);

    // Both buffers: both channels alike, one sine across the boundary.
    const auto samples = samplesAt(camera, kBuffer0, 2 * kBytes);
    const double w = 2 * std::numbers::pi * 1000 / 48000;
    for (size_t i = 0; i < samples.size(); i += 2) ASSERT_EQ(samples[i], samples[i + 1]);
    for (size_t n = 2; n + 2 < samples.size(); n += 2) {
        const double expected = 2 * std::cos(w) * samples[n] - samples[n - 2];
        ASSERT_NEAR(samples[n + 2], expected, 100.0) << "sample " << n / 2;
    }

    fpga.write8(kReg0 + 2, 0);  // interrupt off: buffers still fill, the line stays quiet
    line.unmask();
    give(fpga, kBuffer0, kSamples);
    ASSERT_TRUE(waitFor([&] { return camera.audio().counters().buffers == 3; }, 2000ms));
    EXPECT_EQ(line.eventCount(), 2u);
}

TEST(AudioBlockModel, ReportsItsRateAndRefusesBuffersOutsideReservedMemory) {
    const struct {
        const char* text;
        uint32_t measured;
    } rates[] = {{"48000", 480}, {"44100", 441}, {"32000", 320}, {"96000", 960}, {"none", 0}};
    sim::VirtualCamera camera(quietSettings("none"));
    auto& fpga = camera.fpga();
    for (const auto& r : rates) {
        SCOPED_TRACE(r.text);
        const auto rate = sim::AudioBlock::parseRate(r.text);
        ASSERT_TRUE(rate);
        camera.audio().setRate(*rate);
        EXPECT_EQ(fpga.read32(kReg0 + 4), r.measured);
    }
    EXPECT_FALSE(sim::AudioBlock::parseRate("48001"));

    const uint32_t end = sim::MemoryLayout::kReservedPhysical + sim::MemoryLayout::kReservedSize;
    give(fpga, end - kBytes + 4, kSamples);  // runs past the end
    give(fpga, 0x1000, kSamples);            // not reserved memory
    give(fpga, kBuffer0, 0);                 // no length
    EXPECT_EQ(camera.audio().counters().refused, 3u);
    EXPECT_EQ(state(fpga), 0u);
    give(fpga, end - kBytes, kSamples);  // ends exactly at the end
    EXPECT_EQ(state(fpga), 1u);
}
