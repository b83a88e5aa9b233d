// The video input end to end on the simulator: tracking, capture and the HDMI monitor together.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "status/hdmi.h"
#include "status/hdmi_edid.h"
#include "support/free_port.h"
#include "support/child_process.h"
#include "support/http_post.h"
#include "support/log_capture.h"
#include "support/pipeline_rig.h"
#include "support/quiet_settings.h"
#include "support/scenario_elapsed.h"
#include "sim/app/virtual_camera.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {
sim::SimSettings withInput(const std::string& input, int port = 0) {
    sim::SimSettings s = quietSettings(input);
    s.httpPort = port;
    return s;
}

// The media objects the entry creates for the video input, in its order, with the HDMI monitor last.
class Rig : public PipelineRig {
public:
    explicit Rig(const std::string& input, bool monitor = true, bool full_only = false, int port = 0)
        : PipelineRig(withInput(input, port), {.sender = Sender::none, .fullOnly = full_only}) {
        if (monitor) receiver_monitor = std::make_shared<hdmi>(hw, camera.platform());
    }
    void setInput(const std::string& input) { camera.input().set(*sim::InputFormat::parse(input)); }
    uint64_t pairs() const { return compressor->pairs_received(); }
    bool monitorRunning(uint32_t format, std::chrono::milliseconds limit = 4000ms) {
        return waitFor([&] { return receiver_monitor->get_state() == 3 && receiver_monitor->get_format() == format; },
                       limit);
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

TEST(VideoInputScenario, EachSourceGivesItsSignalLineCaptureAndHdmiFormat) {
    const struct {
        const char* input;
        const char* line;
        int width, height, stride, preview_width, preview_height;
        double rate;           // pairs per second
        double preview_share;  // previews per pair
        uint32_t hdmi_format;
    } cases[] = {
        {"1080p59.94", "Signal : 1920x1080p59 1\n", 1920, 1080, 3840, 640, 360, 59.94, 0.5, 17},
        {"1080p50", "Signal : 1920x1080p50 1\n", 1920, 1080, 3840, 640, 360, 50, 0.5, 15},
        {"1080i59.94", "Signal : 1920x540p59 1\n", 1920, 540, 3840, 640, 180, 59.94, 1, 6},
        {"720p60", "Signal : 1280x720p60 1\n", 1280, 720, 2560, 640, 360, 60, 0.5, 9},
        {"576i", "Signal : 0x0p50 0\n", 0, 0, 0, 0, 0, 0, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        Stdout out;
        Rig rig(c.input);
        ASSERT_TRUE(rig.monitorRunning(c.hdmi_format));
        const uint64_t first = rig.pairs();
        const uint64_t sentBefore = rig.camera.capture().fieldsSent();
        const auto since = clock_type::now();
        std::this_thread::sleep_for(500ms);
        const double seconds = std::chrono::duration<double>(clock_type::now() - since).count();
        const uint64_t counted = rig.pairs() - first;
        const uint64_t sent = rig.camera.capture().fieldsSent() - sentBefore;
        const auto pair = rig.compressor->latest_pair();
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
        EXPECT_EQ(pair->full->width, c.width);
        EXPECT_EQ(pair->full->height, c.height);
        EXPECT_EQ(pair->full->stride, c.stride);
        EXPECT_NE(pair->full->timecode, 0);
        const auto window = rig.hw->layout().get_raw();
        EXPECT_GE(pair->full->address, window.offset);
        EXPECT_LE(uint64_t{pair->full->address} + uint64_t(c.stride) * c.height, uint64_t{window.offset} + window.size);
        const double share = double(rig.compressor->previews_received()) / double(rig.pairs());
        EXPECT_NEAR(share, c.preview_share, 0.1);
        // What the engine wrote matches what the application asked for.
        const auto written = rig.camera.capture().full().counters();
        const auto preview = rig.camera.capture().preview().counters();
        EXPECT_EQ((std::tuple{written.lastWidth, written.lastHeight, written.lastStride}),
                  (std::tuple{c.width, c.height, c.stride}));
        EXPECT_EQ((std::tuple{preview.lastWidth, preview.lastHeight}), (std::tuple{c.preview_width, c.preview_height}));
    }
}

TEST(VideoInputScenario, FullOnlyCapturesNoPreviewAndFieldsAlternate) {
    Rig rig("1080i50", false, true);
    ASSERT_TRUE(waitFor([&] { return rig.pairs() >= 6; }, 2000ms));
    EXPECT_EQ(rig.compressor->previews_received(), 0u);
    EXPECT_EQ(rig.camera.capture().preview().counters().captured, 0u);
    int last = -1, alternations = 0;
    for (int i = 0; i < 6; ++i) {
        const uint64_t n = rig.pairs();
        ASSERT_TRUE(waitFor([&] { return rig.pairs() > n; }, 500ms));
        const int field = rig.compressor->latest_pair()->full->field;
        EXPECT_TRUE(field == 0 || field == 1);
        alternations += last >= 0 && field != last;
        last = field;
    }
    EXPECT_GE(alternations, 4);
}

TEST(VideoInputScenario, ChangingTheSourceWhileRunningReconfiguresCaptureAndALostSignalReturns) {
    Stdout out;
    Rig rig("1080p59.94");
    ASSERT_TRUE(rig.monitorRunning(17));
    const uint64_t restarts = rig.camera.capture().full().counters().idleStarts;
    rig.setInput("720p60");
    ASSERT_TRUE(waitFor([&] { return rig.compressor->latest_pair()->full->width == 1280; }, 2000ms));
    EXPECT_GT(rig.camera.capture().full().counters().idleStarts, restarts);
    EXPECT_EQ(rig.grabber->get_signal().width, 1280);
    ASSERT_TRUE(rig.monitorRunning(9));
    const uint64_t n = rig.pairs();
    ASSERT_TRUE(waitFor([&] { return rig.pairs() >= n + 10; }, 1000ms));
    EXPECT_EQ(rig.camera.capture().full().counters().clipped, 0u);

    // Losing the signal stalls capture and the monitor; it resumes when the source returns.
    rig.setInput("none");
    ASSERT_TRUE(waitFor([&] { return rig.grabber->get_signal().valid == 0; }, 500ms));
    ASSERT_TRUE(waitFor([&] { return rig.receiver_monitor->get_state() == 0; }, 500ms));
    EXPECT_EQ(rig.receiver_monitor->get_format(), 0u);
    const uint64_t stalled = rig.pairs();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(rig.pairs(), stalled);
    rig.setInput("720p60");
    ASSERT_TRUE(waitFor([&] { return rig.pairs() >= stalled + 10; }, 2000ms));
    ASSERT_TRUE(rig.monitorRunning(9));
    rig.receiver_monitor.reset();
    const std::string text = out.take();
    EXPECT_NE(text.find("Signal : 1920x1080p59 1\n"), std::string::npos);
    EXPECT_NE(text.find("Signal : 0x0p59 0\n"), std::string::npos);
    const std::string line = "Signal : 1280x720p60 1\n";
    EXPECT_NE(text.find(line), text.rfind(line));  // at the change and again when the source returns
}

// A new format seen while the receiver stays locked is reported; a standard-definition one is
// taken in place, any other restarts the monitor's detection.
TEST(VideoInputScenario, MonitorTakesAFormatChangeInPlaceOrRestarts) {
    const struct { const char *from, *to; uint32_t before, after; bool restarts; } cases[] = {
        {"720p60", "576i", 9, 1, false}, {"576i", "480i", 1, 2, false}, {"1080p59.94", "720p60", 17, 9, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to);
        Stdout out;
        Rig rig(c.from);
        ASSERT_TRUE(rig.monitorRunning(c.before));
        rig.camera.receiver().setLockTime(0ms);
        rig.setInput(c.to);
        bool left = false;
        EXPECT_TRUE(waitFor(
            [&] {
                left |= rig.receiver_monitor->get_state() != 3;
                return rig.receiver_monitor->get_state() == 3 && rig.receiver_monitor->get_format() == c.after;
            },
            6000ms));
        EXPECT_EQ(left, c.restarts);
        rig.receiver_monitor.reset();
        const std::string text = out.take();
        EXPECT_NE(text.find("Resolution " + std::to_string(c.before) + " " + std::to_string(c.after) + "\r\n"),
                  std::string::npos)
            << text;
        const size_t detected = text.find("HDMI detected");
        EXPECT_EQ(text.find("HDMI detected", detected + 1) != std::string::npos, c.restarts) << text;
    }
}

TEST(VideoInputScenario, MonitorRidesOutI2cErrorsAndLoadsTheEdid) {
    LogCapture quiet(0);
    Rig rig("1080p50", true);
    ASSERT_TRUE(rig.monitorRunning(15));
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(rig.camera.fpga().peek(1152 + static_cast<uint32_t>(i)), edid_word(hdmi_edid(), i)) << i;
    EXPECT_EQ(rig.camera.fpga().peek(1024), 1u);
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
    sim::VirtualCamera camera(withInput("720p60"));
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

TEST(VideoInputScenario, HttpApiChangesTheSourceAndReportsIt) {
    const int port = freePort();
    Rig rig("720p50", false, false, port);
    ASSERT_TRUE(rig.camera.serve());
    ASSERT_TRUE(waitFor([&] { return rig.pairs() >= 3; }, 1000ms));
    EXPECT_EQ(httpPost(port, "/input", "1080p61").status, 400);
    EXPECT_EQ(httpPost(port, "/input", "1080p50\n").status, 200);
    ASSERT_TRUE(waitFor([&] { return rig.grabber->get_signal().rate_n == 50000; }, 1000ms));
    const auto state = nlohmann::json::parse(httpGet(port, "/state"));
    EXPECT_EQ(state["input"], "1080p50");
    EXPECT_GT(state["capture"]["frames"].get<uint64_t>(), 0u);
    EXPECT_GE(state["capture"]["restarts"].get<uint64_t>(), 1u);
    EXPECT_TRUE(state["hdmi"]["state"] == "detected" || state["hdmi"]["state"] == "stable");
    EXPECT_TRUE(state["hdmi"].contains("format"));
}
