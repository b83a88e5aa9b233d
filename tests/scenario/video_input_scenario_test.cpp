// The video input end to end on the simulator: tracking, capture and the HDMI monitor together.
#include <gtest/gtest.h>

#include "status/hdmi.h"
#include "status/hdmi_edid.h"
#include "support/log_capture.h"
#include "support/pipeline_rig.h"
#include "support/quiet_settings.h"
#include "support/scenario_elapsed.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {
// The media objects the entry creates for the video input, in its order, with the HDMI monitor last.
class Rig : public PipelineRig {
public:
    explicit Rig(const std::string& input, bool monitor = true, bool full_only = false)
        : PipelineRig(quietSettings(input), {.sender = Sender::none, .fullOnly = full_only}) {
        if (monitor) receiver_monitor = std::make_shared<hdmi>(hw, camera.platform());
    }
    void setInput(const std::string& input) { camera.input().set(*sim::InputFormat::parse(input)); }
    uint64_t pairs() const { return compressor->pairs_received(); }
    bool monitorRunning(uint32_t format) {
        return waitFor([&] { return receiver_monitor->get_state() == 3 && receiver_monitor->get_format() == format; },
                       10s);
    }

    std::shared_ptr<hdmi> receiver_monitor;
};

// Standard output captured for a scope; `take` ends the capture early.
struct Stdout {
    Stdout() { testing::internal::CaptureStdout(); }
    ~Stdout() { if (!taken) testing::internal::GetCapturedStdout(); }
    std::string take() { return taken = true, testing::internal::GetCapturedStdout(); }
    bool taken = false;
};
}  // namespace

// The preview's buffer follows the full one's in the raw ring, which rounds each up to whole MiB.
TEST(VideoInputScenario, EachSourceGivesItsSignalLineCaptureAndHdmiFormat) {
    const struct {
        const char *input, *line;
        int width, height, stride, preview_width, preview_height;
        double rate, preview_share;  // pairs per second, previews per pair
        uint32_t hdmi_format, full_buffer;
    } cases[] = {
        {"1080p59.94", "Signal : 1920x1080p59 1\n", 1920, 1080, 3840, 640, 360, 59.94, 0.5, 17, 0x400000},
        {"1080p50", "Signal : 1920x1080p50 1\n", 1920, 1080, 3840, 640, 360, 50, 0.5, 15, 0x400000},
        {"1080i59.94", "Signal : 1920x540p59 1\n", 1920, 540, 3840, 640, 180, 59.94, 1, 6, 0x200000},
        {"720p60", "Signal : 1280x720p60 1\n", 1280, 720, 2560, 640, 360, 60, 0.5, 9, 0x200000},
        {"576i", "Signal : 0x0p50 0\n", 0, 0, 0, 0, 0, 0, 0, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        Stdout out;
        Rig rig(c.input);
        ASSERT_TRUE(rig.monitorRunning(c.hdmi_format));
        const uint64_t first = rig.pairs(), sentBefore = rig.camera.capture().fieldsSent();
        const auto since = clock_type::now();
        std::this_thread::sleep_for(500ms);
        const double seconds = std::chrono::duration<double>(clock_type::now() - since).count();
        const uint64_t counted = rig.pairs() - first, sent = rig.camera.capture().fieldsSent() - sentBefore;
        std::shared_ptr<video_capture::frame_pair_t> pair;  // one with a preview, the ring not wrapped between
        if (c.rate != 0) waitFor([&] {
            auto p = rig.compressor->latest_pair();
            if (p && p->preview && p->preview->address > p->full->address) pair = p;
            return pair != nullptr;
        }, 2000ms);
        rig.receiver_monitor.reset();
        const std::string text = out.take();
        for (const char* line : {c.line, "HDMI detected", "YUV422"})
            EXPECT_NE(text.find(line), std::string::npos) << text;
        if (c.rate == 0) {
            EXPECT_EQ(counted, 0u);
            continue;
        }
        // Every picture the source sent becomes a pair (a slow machine makes the source skip, not
        // the capture), and never more than the source's rate.
        EXPECT_GE(counted + 2, sent);
        EXPECT_GT(counted, 0u);
        EXPECT_LE(counted, c.rate * seconds * 1.1 + 1);
        ASSERT_TRUE(pair);
        EXPECT_EQ(std::make_tuple(pair->full->width, pair->full->height, pair->full->stride),
                  std::make_tuple(c.width, c.height, c.stride));
        EXPECT_NE(pair->full->timecode, 0);
        EXPECT_EQ(pair->preview->address - pair->full->address, c.full_buffer);
        EXPECT_NEAR(double(rig.compressor->previews_received()) / double(rig.pairs()), c.preview_share, 0.1);
        // What the engines wrote matches what the application asked for, all inside the raw window.
        const auto full = rig.camera.capture().full().counters(), preview = rig.camera.capture().preview().counters();
        EXPECT_EQ(std::make_tuple(full.lastWidth, full.lastHeight, full.lastStride, preview.lastWidth,
                                  preview.lastHeight, full.clipped + preview.clipped),
                  std::make_tuple(c.width, c.height, c.stride, c.preview_width, c.preview_height, uint64_t{0}));
    }
}

TEST(VideoInputScenario, FullOnlyCapturesNoPreviewAndFieldsAlternate) {
    Rig rig("1080i50", false, true);
    int last = -1, alternations = 0;
    for (int i = 0; i < 6; ++i) {
        const uint64_t n = rig.pairs();
        ASSERT_TRUE(waitFor([&] { return rig.pairs() > n; }, 1000ms));
        const int field = rig.compressor->latest_pair()->full->field;
        EXPECT_TRUE(field == 0 || field == 1);
        alternations += last >= 0 && field != last;
        last = field;
    }
    EXPECT_GE(alternations, 4);
    EXPECT_EQ(rig.compressor->previews_received() + rig.camera.capture().preview().counters().captured, 0u);
}

// Losing the signal stalls capture and the monitor; both resume when the source returns, whose line
// is printed again.
TEST(VideoInputScenario, ALostSignalStallsCaptureAndTheMonitorUntilItReturns) {
    Stdout out;
    Rig rig("720p60");
    ASSERT_TRUE(rig.monitorRunning(9));
    rig.setInput("none");
    ASSERT_TRUE(waitFor([&] { return !rig.grabber->get_signal().valid && !rig.receiver_monitor->get_state(); }, 5s));
    EXPECT_EQ(rig.receiver_monitor->get_format(), 0u);
    std::this_thread::sleep_for(100ms);  // a capture under way when the signal went may still end
    const uint64_t stalled = rig.pairs();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(rig.pairs(), stalled);
    rig.setInput("720p60");
    ASSERT_TRUE(waitFor([&] { return rig.pairs() >= stalled + 10; }, 10s));
    ASSERT_TRUE(rig.monitorRunning(9));
    rig.receiver_monitor.reset();
    const std::string text = out.take(), line = "Signal : 1280x720p60 1\n";
    EXPECT_NE(text.find(line), text.rfind(line));
}

// A new format seen while the receiver stays locked is reported; a standard-definition one is
// taken in place, any other restarts the monitor's detection and the capture.
TEST(VideoInputScenario, MonitorTakesAFormatChangeInPlaceOrRestarts) {
    const struct { const char *from, *to; uint32_t before, after; bool restarts; int width; } cases[] = {
        {"720p60", "576i", 9, 1, false, 0}, {"576i", "480i", 1, 2, false, 0},
        {"1080p59.94", "720p60", 17, 9, true, 1280}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to);
        Stdout out;
        Rig rig(c.from);
        ASSERT_TRUE(rig.monitorRunning(c.before));
        const uint64_t restarts = rig.camera.capture().full().counters().idleStarts;
        rig.camera.receiver().setLockTime(0ms);
        rig.setInput(c.to);
        bool left = false;
        EXPECT_TRUE(waitFor([&] {
            left |= rig.receiver_monitor->get_state() != 3;
            return rig.receiver_monitor->get_state() == 3 && rig.receiver_monitor->get_format() == c.after;
        }, 6000ms));
        EXPECT_EQ(left, c.restarts);
        if (c.width) {
            EXPECT_TRUE(waitFor([&] { return rig.compressor->latest_pair()->full->width == c.width; }, 2000ms));
            EXPECT_EQ(rig.grabber->get_signal().width, c.width);
            EXPECT_GT(rig.camera.capture().full().counters().idleStarts, restarts);
        }
        rig.receiver_monitor.reset();
        const std::string text = out.take();
        const std::string change = "Resolution " + std::to_string(c.before) + " " + std::to_string(c.after) + "\r\n";
        EXPECT_NE(text.find(change), std::string::npos) << text;
        EXPECT_EQ(text.find("HDMI detected", text.find("HDMI detected") + 1) != std::string::npos, c.restarts) << text;
    }
}

// Detection takes at least 100 ms of set-up, 21 polls of 50 ms with a signal, 4 after the
// receiver's reset (it locks 100 ms later) and 3 to settle: a count cut by one shows as 50 ms less.
TEST(VideoInputScenario, MonitorDetectsAfterItsPollCountsRidesOutI2cErrorsAndLoadsTheEdid) {
    LogCapture quiet(0);
    Rig rig("1080p50", false);
    const auto start = clock_type::now();
    rig.receiver_monitor = std::make_shared<hdmi>(rig.hw, rig.camera.platform());
    ASSERT_TRUE(rig.monitorRunning(15));
    EXPECT_GE(clock_type::now() - start, 1500ms);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(rig.camera.fpga().peek(1152 + uint32_t(i)), edid_word(hdmi_edid(), i)) << i;
    // The fixed header 00 ff ff ff ff ff ff 00 in little-endian words, and nothing past the 64th word.
    const auto& fpga = rig.camera.fpga();
    EXPECT_EQ(std::make_tuple(fpga.peek(1152), fpga.peek(1153), fpga.peek(1216), fpga.peek(1024)),
              std::make_tuple(0xffffff00u, 0x00ffffffu, 0u, 1u));
    rig.camera.receiver().failTransfers(-1);
    ASSERT_TRUE(waitFor([&] { return rig.receiver_monitor->get_state() == 0; }, 1000ms));
    EXPECT_NE(quiet.text().find("ioctl(I2C_RDWR) in i2c_read: "), std::string::npos);
    rig.camera.receiver().failTransfers(0);
    ASSERT_TRUE(rig.monitorRunning(15));
}

TEST(VideoInputScenario, ShutdownWithoutSignalIsBounded) {
    Rig rig("none");
    std::this_thread::sleep_for(150ms);
    EXPECT_LT(elapsed([&] { rig.receiver_monitor.reset(); }), 150ms);
    EXPECT_LT(elapsed([&] { rig.tracking.reset(); }), 250ms);
    EXPECT_LT(elapsed([&] { rig.grabber.reset(); }), 250ms);
}

TEST(VideoInputScenario, CaptureDestroyedBeforeEnableDoesNotHang) {
    sim::VirtualCamera camera(quietSettings("720p60"));
    platform::install(camera.platform());
    auto hw = std::make_shared<hardware>(camera.platform());
    auto compressor = std::make_shared<video_compress>(hw, nullptr);
    auto capture = std::make_shared<video_capture>(hw, compressor, false);
    capture->start();
    std::this_thread::sleep_for(20ms);
    EXPECT_LT(elapsed([&] { capture.reset(); }), 100ms);
    EXPECT_EQ(camera.capture().full().counters().idleStarts, 0u);
    platform::install(nullptr);
}
