// The capture engines against their register description: start queue, pictures, fields, window.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <thread>

#include "sim/media/test_picture.h"
#include "sim/app/virtual_camera.h"
#include "support/quiet_settings.h"

using namespace std::chrono_literals;

namespace {
constexpr uint32_t kFull = 512 * 4, kPreview = 528 * 4;  // byte offsets of register 0
constexpr uint32_t kWindow = sim::MemoryLayout::kVideoPhysical;

class Engines {
public:
    explicit Engines(const std::string& input) : camera(quietSettings(input)) {
        pixels = static_cast<uint8_t*>(camera.root().memory().map(kWindow, sim::MemoryLayout::kVideoSize));
    }
    ~Engines() { camera.root().memory().unmap(pixels, sim::MemoryLayout::kVideoSize); }

    sim::FpgaModel& fpga() { return camera.fpga(); }
    // Register 0's interrupt-enable and control bytes.
    void arm(uint32_t engine, uint8_t enable, uint8_t control) {
        fpga().write8(engine + 2, enable);
        fpga().write8(engine + 1, control);
    }
    void start(uint32_t engine, uint32_t address) {
        fpga().write32(engine + 8, address);
        fpga().write8(engine, 1);
    }
    uint32_t state(uint32_t engine) { return fpga().read32(engine) & 3; }
    uint8_t events(uint32_t engine) { return fpga().read8(engine + 3); }
    // One interrupt on `line` within the timeout.
    bool interrupt(int line, std::chrono::milliseconds timeout = 300ms) {
        auto& l = fpga().line(line);
        uint32_t seen = l.eventCount();
        l.unmask();
        return l.wait(seen, timeout) >= 0;
    }
    const uint8_t* at(uint32_t physical) const { return pixels + (physical - kWindow); }

    sim::VirtualCamera camera;
    uint8_t* pixels;
};

// Cb Y Cr Y of the pixel pair around x on a line.
void expectColour(const uint8_t* line, int x, sim::TestPicture::Colour c) {
    const uint8_t* p = line + (x & ~1) * 2;
    EXPECT_EQ((std::array{p[0], p[1], p[2], p[3]}), (std::array<uint8_t, 4>{c.cb, c.y, c.cr, c.y})) << "x " << x;
}
}  // namespace

TEST(CaptureEngineModel, CapturesWholeFramesIntoTheArmedBufferAndAQueuedStartFollows) {
    Engines e("720p60");
    e.arm(kFull, 0xc0, 1);
    const uint32_t a = kWindow + 0x100000, b = a + 0x200000;
    e.start(kFull, a);
    e.start(kFull, b);
    EXPECT_EQ(e.state(kFull), 1u);  // waiting for the next frame to begin
    ASSERT_TRUE(e.interrupt(1));
    EXPECT_EQ(e.state(kFull), 2u);  // b is being captured
    EXPECT_EQ(e.events(kFull) & 0xc0, 0x80);
    auto c = e.camera.capture().full().counters();
    EXPECT_EQ(c.lastWidth, 1280);
    EXPECT_EQ(c.lastHeight, 720);
    EXPECT_EQ(c.lastStride, 2560);
    EXPECT_EQ(c.lastField, 2);
    // Seven bars over the top two thirds, each at its BT.709 75% values.
    for (int bar = 0; bar < 7; ++bar) {
        expectColour(e.at(a), 1280 * (2 * bar + 1) / 14, sim::TestPicture::kBars[bar]);
        expectColour(e.at(a + 2560 * 479), 1280 * (2 * bar + 1) / 14, sim::TestPicture::kBars[bar]);
    }
    expectColour(e.at(a + 2560 * 700), 1278, sim::TestPicture::kBackground);
    ASSERT_TRUE(e.interrupt(1));
    EXPECT_EQ(e.state(kFull), 0u);
    e.fpga().write8(kFull + 3, 0xc0);
    EXPECT_EQ(e.events(kFull), 0);
    c = e.camera.capture().full().counters();
    EXPECT_EQ(c.captured, 2u);
    EXPECT_EQ(c.idleStarts, 1u);
    EXPECT_EQ(c.lastAddress, b);
    // Same bars, different frame numbers below them.
    EXPECT_EQ(std::memcmp(e.at(a), e.at(b), 2560), 0);
    bool differs = false;
    for (uint32_t line = 480; line < 720 && !differs; ++line)
        differs = std::memcmp(e.at(a + 2560 * line), e.at(b + 2560 * line), 2560) != 0;
    EXPECT_TRUE(differs);
}

TEST(CaptureEngineModel, AThirdStartReplacesTheQueuedOneAndFlagsAnOverrun) {
    Engines e("720p50");
    e.fpga().write8(kFull + 1, 1);
    e.start(kFull, kWindow);
    while (e.state(kFull) != 2) std::this_thread::sleep_for(2ms);  // capturing
    e.start(kFull, kWindow + 0x200000);
    EXPECT_EQ(e.state(kFull), 3u);
    e.start(kFull, kWindow + 0x400000);
    EXPECT_EQ(e.events(kFull) & 0x40, 0x40);
    EXPECT_EQ(e.camera.capture().full().counters().overruns, 1u);
    e.fpga().write8(kFull, 0x80);  // reset drops everything
    EXPECT_EQ(e.state(kFull), 0u);
    EXPECT_EQ(e.events(kFull), 0);
}

TEST(CaptureEngineModel, InterlacedInputGivesAlternateFieldsAsTheFieldBitForetold) {
    Engines e("1080i50");
    e.arm(kFull, 0x80, 1);
    for (int i = 0; i < 4; ++i) {
        const bool first = (e.fpga().read8(kFull + 1) & 0x08) != 0;
        e.start(kFull, kWindow + 0x400000 * static_cast<uint32_t>(i));
        ASSERT_TRUE(e.interrupt(1));
        const auto c = e.camera.capture().full().counters();
        EXPECT_EQ(c.lastField, first ? 0 : 1) << i;
        EXPECT_EQ(c.lastHeight, 540);
        EXPECT_EQ(c.lastStride, 3840);
    }
}

TEST(CaptureEngineModel, PreviewEngineWritesScaledPicturesAndInterruptsOnlyWhenAsked) {
    Engines e("1080p50");
    e.fpga().write8(kPreview + 1, 1);  // a third of the input
    const uint32_t buffer = kWindow + 0x800000;
    e.start(kPreview, buffer);
    EXPECT_FALSE(e.interrupt(2, 120ms));
    EXPECT_EQ(e.events(kPreview) & 0x80, 0x80);
    auto c = e.camera.capture().preview().counters();
    EXPECT_EQ(c.lastWidth, 640);
    EXPECT_EQ(c.lastHeight, 360);
    EXPECT_EQ(c.lastStride, 1280);
    for (int bar = 0; bar < 7; ++bar)
        expectColour(e.at(buffer + 1280 * 100), 640 * (2 * bar + 1) / 14, sim::TestPicture::kBars[bar]);
    e.arm(kPreview, 0x80, 0);  // half the input
    e.start(kPreview, buffer);
    EXPECT_TRUE(e.interrupt(2));
    c = e.camera.capture().preview().counters();
    EXPECT_EQ(c.lastWidth, 960);
    EXPECT_EQ(c.lastHeight, 540);
}

// Both engines write during the picture; its end interrupts only once both are in memory, so the
// full engine's interrupt always finds the preview of the same picture done.
TEST(CaptureEngineModel, TheFullInterruptFindsThePreviewOfThePictureDone) {
    Engines e("1080p60");
    e.fpga().write8(kFull + 2, 0x80);
    e.fpga().write8(kPreview + 1, 1);
    for (int picture = 0; picture < 5; ++picture) {
        e.fpga().write8(kFull + 3, 0xc0);
        e.fpga().write8(kPreview + 3, 0xc0);
        e.start(kFull, kWindow);
        e.start(kPreview, kWindow + 0x800000);
        ASSERT_TRUE(e.interrupt(1));
        EXPECT_EQ(e.events(kPreview) & 0x80, 0x80) << "picture " << picture;
    }
}

TEST(CaptureEngineModel, NeverWritesOutsideTheRawWindow) {
    Engines e("1080p60");
    e.arm(kFull, 0x80, 1);
    const uint32_t end = kWindow + sim::MemoryLayout::kVideoSize;
    auto* beyond = static_cast<uint8_t*>(e.camera.root().memory().map(end, 0x400000));
    auto* before = static_cast<uint8_t*>(e.camera.root().memory().map(kWindow - 0x100000, 0x100000));
    e.start(kFull, end - 0x100000);  // a 4 MB picture in the window's last megabyte
    ASSERT_TRUE(e.interrupt(1));
    e.start(kFull, kWindow - 0x80000);  // starts below the window
    ASSERT_TRUE(e.interrupt(1));
    EXPECT_EQ(e.camera.capture().full().counters().clipped, 2u);
    EXPECT_EQ(e.at(end - 0x100000)[1], sim::TestPicture::kBars[0].y);  // what fits is written
    size_t touched = 0;
    for (uint32_t i = 0; i < 0x400000; ++i) touched += beyond[i] != 0;
    for (uint32_t i = 0; i < 0x100000; ++i) touched += before[i] != 0;
    EXPECT_EQ(touched, 0u);
    e.camera.root().memory().unmap(beyond, 0x400000);
    e.camera.root().memory().unmap(before, 0x100000);
}

TEST(CaptureEngineModel, AnInputChangeAbortsTheCaptureInFlight) {
    Engines e("720p60");
    e.arm(kFull, 0x80, 1);
    e.start(kFull, kWindow);
    e.start(kFull, kWindow + 0x200000);
    e.camera.input().set(*sim::InputFormat::parse("none"));
    EXPECT_FALSE(e.interrupt(1, 100ms));
    EXPECT_EQ(e.state(kFull), 0u);
    EXPECT_EQ(e.camera.capture().full().counters().aborted, 2u);
    e.camera.input().set(*sim::InputFormat::parse("720p60"));
    e.start(kFull, kWindow);
    EXPECT_TRUE(e.interrupt(1));
}

TEST(CaptureEngineModel, FramesArePacedAtTheInputRate) {
    Engines e("1080p50");
    const uint64_t before = e.camera.capture().fieldsSent();
    std::this_thread::sleep_for(400ms);
    const uint64_t sent = e.camera.capture().fieldsSent() - before;
    EXPECT_GE(sent, 15u);  // 20 expected; a loaded machine skips, never bursts
    EXPECT_LE(sent, 21u);
}
