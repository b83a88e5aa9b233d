// NDI: PTZ metadata frames to command records (the element table with its clamps and defaults,
// case rules, the zoom restart, malformed frames), and the runtime loader against runtimes of our
// own: every call reaches its own symbol, and a missing file or call ends in "Cannot run NDI!".
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "control/ndi_ptz_receiver.h"
#include "media/network_send.h"
#include "platform/linux_platform.h"
#include "platform/ndi_runtime.h"
#include "support/fake_visca_target.h"
#include "support/log_capture.h"
#include "support/thrown_message.h"

namespace {
const std::string kComplete = std::string(FAKE_NDI_DIR) + "/libndi.so.5";

// Names the runtime folder for one scope; the test binary runs without one.
struct RuntimeDir {
    explicit RuntimeDir(const char* dir) { setenv("NDI_RUNTIME_DIR_V5", dir, 1); }
    ~RuntimeDir() { unsetenv("NDI_RUNTIME_DIR_V5"); }
};

// What the fake runtime recorded, read back through its capture call.
std::string journal(platform::NdiLibrary& lib, ndi::send_instance instance, uint32_t timeout = 7) {
    ndi::metadata_frame frame;
    EXPECT_EQ(lib.NDIlib_send_capture(instance, &frame, timeout), ndi::frame_type::metadata);
    std::string text(frame.p_data, size_t(frame.length));
    lib.NDIlib_send_free_metadata(instance, &frame);
    return text;
}

const std::vector<std::pair<std::string, PtzCommand>> kElements = {
    // Pan and tilt: clampPM, not-a-number moves nothing (the scenario and end-to-end drive do the rest).
    {R"(<ntk_ptz_pan_home pan="2" tilt="-inf"/>)", {NDI_PT_HOME, 1.0f, -1.0f}},
    {R"(<ntk_ptz_pan_tilt/>)", {NDI_PT_MOVE, 0, 0}},
    {R"(<ntk_ptz_pan_tilt pan="-3" tilt="0.25"/>)", {NDI_PT_MOVE, -1.0f, 0.25f}},
    {R"(<ntk_ptz_pan_tilt_speed pan_speed="nan" tilt_speed="inf"/>)", {NDI_PT_SPEED, 0, 1.0f}},
    // Zoom: clamp01, a missing value is position 0.
    {R"(<ntk_ptz_zoom/>)", {NDI_ZOOM, 0, 0}}, {R"(<ntk_ptz_zoom zoom="-1"/>)", {0, 0, 0}},
    {R"(<ntk_ptz_zoom zoom="nan"/>)", {NDI_ZOOM, 0, 0}}, {R"(<ntk_ptz_zoom zoom="7"/>)", {NDI_ZOOM, 1.0f, 0}},
    {R"(<ntk_ptz_zoom zoom="-0.5"/>)", {NDI_ZOOM, 0, 0}},
    {R"(<ntk_ptz_zoom_speed zoom_speed="0"/>)", {NDI_ZOOM_SPEED_STOP, 0, 0}},
    {R"(<ntk_ptz_zoom_speed zoom_speed="-5"/>)", {NDI_ZOOM_SPEED, -1.0f, 0}},
    // Presets: index 0..99 (strtol), speed clamp01 with 1.0 by default.
    {R"(<ntk_ptz_recall_preset index="99999999999999999999"/>)", {0, 0, 0}},
    {R"(<ntk_ptz_recall_preset index="4" speed="0.25"/>)", {NDI_RECALL_PRESET, 4, 0.25f}},
    {R"(<ntk_ptz_store_preset index="-1"/>)", {0, 0, 0}}, {R"(<ntk_ptz_store_preset index="100"/>)", {0, 0, 0}},
    {R"(<ntk_ptz_store_preset/>)", {NDI_STORE_PRESET, 0, 0}},
    {R"(<ntk_ptz_store_preset index="99"/>)", {NDI_STORE_PRESET, 99, 0}},
    // Keywords ignore case; attribute names do not.
    {R"(<ntk_ptz_exposure mode="shutter"/>)", {0, 0, 0}},
    {R"(<ntk_ptz_exposure mode="auto"/>)", {NDI_EXPOSURE_AUTO, 0, 0}},
    {R"(<ntk_ptz_exposure mode="manual"/>)", {NDI_EXPOSURE_MANUAL, 0, 0.5f}},
    {R"(<ntk_ptz_exposure mode="manual" value="0.2"/>)", {NDI_EXPOSURE_MANUAL, 0, 0.2f}},
    {R"(<ntk_ptz_flip enabled="yes"/>)", {NDI_FLIP, 0, 0}}, {R"(<ntk_ptz_flip enabled="TRUE"/>)", {NDI_FLIP, 1.0f, 0}},
    {R"(<ntk_ptz_focus Mode="auto"/>)", {0, 0, 0}}, {R"(<ntk_ptz_focus mode="near"/>)", {0, 0, 0}},
    {R"(<NTK_PTZ_FOCUS mode="AUTO"/>)", {NDI_FOCUS_AUTO, 0, 0}},
    {R"(<ntk_ptz_focus mode="manual"/>)", {NDI_FOCUS_MANUAL, 0.5f, 0}},
    {R"(<ntk_ptz_focus mode="Manual" distance="3"/>)", {NDI_FOCUS_MANUAL, 1.0f, 0}},
    {R"(<ntk_ptz_focus_speed/>)", {NDI_FOCUS_SPEED, 0, 0}},
    {R"(<ntk_ptz_focus_speed focus_speed="-0.5"/>)", {NDI_FOCUS_SPEED, -0.5f, 0}},
    {R"(<ntk_ptz_white_balance/>)", {0, 0, 0}}, {R"(<ntk_ptz_white_balance mode="auto"/>)", {NDI_WB_AUTO, 0, 0}},
    {R"(<ntk_ptz_white_balance mode="Indoor"/>)", {NDI_WB_INDOOR, 0, 0}},
    {R"(<ntk_ptz_white_balance mode="outdoor"/>)", {NDI_WB_OUTDOOR, 0, 0}},
    {R"(<ntk_ptz_white_balance mode="ONE_SHOT"/>)", {NDI_WB_ONE_SHOT, 0, 0}},
    {R"(<ntk_ptz_white_balance mode="manual" red="0.2"/>)", {NDI_WB_MANUAL, 0.2f, 0.5f}},
    {R"(<ntk_ptz_white_balance mode="manual" red="-1" blue="2"/>)", {NDI_WB_MANUAL, 0, 1.0f}},
    // The first element decides, after a byte-order mark, white space, a declaration or comments.
    {"", {0, 0, 0}}, {R"(<ntk_ptz_pan_tilt_speedy pan_speed="1"/>)", {0, 0, 0}},
    {"\xEF\xBB\xBF \r\n\t<ntk_ptz_zoom zoom=\"0.25\"/>", {NDI_ZOOM, 0.25f, 0}},
    {R"(<?xml version="1.0"?><!-- x --><ntk_ptz_zoom zoom="0.75"><ntk_ptz_flip enabled="true"/></ntk_ptz_zoom>)",
     {NDI_ZOOM, 0.75f, 0}},
};

// Elements nested `depth` deep, each level followed by `markup`.
std::string nested(int depth, const std::string& markup = "") {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<a>" + markup;
    for (int i = 0; i < depth; ++i) text += "</a>";
    return text;
}
std::string hiddenCloses(const std::string& markup) { return nested(NdiPtzMetadata::kMaxDepth + 3, markup); }

std::string manyElements() {
    std::string text = R"(<ntk_ptz_recall_preset index="7" speed="0.5">)";
    for (int i = 0; i < 5000; ++i) text += "<x a=\"1\"/>";
    return text + "</ntk_ptz_recall_preset>";
}
}  // namespace

TEST(NdiPtzMetadata, EachElementQueuesOneRecordWithItsClampsAndDefaults) {
    auto elements = kElements;
    elements.insert(elements.end(), {{manyElements(), {NDI_RECALL_PRESET, 7, 0.5f}},
        {"<ntk_ptz_zoom zoom=\"0." + std::string(100000, '5') + "\"/>", {NDI_ZOOM, 0.5555555f, 0}},
        {"<ntk_ptz_pan_tilt pan=\"-1e999\"/>" + nested(NdiPtzMetadata::kMaxDepth - 1), {NDI_PT_MOVE, -1.0f, 0}}});
    testing::internal::CaptureStdout();
    for (const auto& [xml, expected] : elements) {
        SCOPED_TRACE(xml.substr(0, 100));
        FakeViscaTarget target;
        NdiPtzReceiver receiver(nullptr, target);
        EXPECT_TRUE(receiver.handleFrame(xml));
        const auto pushed = target.commands();
        ASSERT_EQ(pushed.size(), 1u);
        EXPECT_EQ(std::pair(pushed[0].code, receiver.lastCommand().code), std::pair(expected.code, expected.code));
        EXPECT_FLOAT_EQ(pushed[0].arg1, expected.arg1);
        EXPECT_FLOAT_EQ(pushed[0].arg2, expected.arg2);
    }
    // The zoom speed line: the value read and the value used.
    EXPECT_NE(testing::internal::GetCapturedStdout().find("ndi zoom_speed -5.000000 -1.000000\n"), std::string::npos);
}

// Without a servo the adapter is looked for; the queued record is the no-op the table checks.
TEST(NdiPtzMetadata, ZoomMinusOneRestartsTheZoomAndLooksForTheAdapterOnlyWithoutAServo) {
    for (const auto& [zoom, servo, restarts, detections] :
         {std::tuple{"-1.0", 1, 1, 0}, {"-1.0", 0, 1, 1}, {"-0.999", 0, 0, 0}}) {
        FakeViscaTarget target;
        target.zoom_restart_result = servo;
        NdiPtzReceiver(nullptr, target).handleFrame(std::string("<ntk_ptz_zoom zoom=\"") + zoom + "\"/>");
        EXPECT_EQ(std::make_tuple(target.restarts, target.detections), std::make_tuple(restarts, detections)) << zoom;
    }
}

TEST(NdiPtzMetadata, MalformedFramesAreDroppedWithAMessageAndQueueNothing) {
    const std::string bad[] = {
        R"(<ntk_ptz_zoom zoom="0.5")", "ntk_ptz_zoom", R"(<ntk_ptz_zoom zoom="0.5></ntk_ptz_zoom>)", "<a></b>",
        std::string("\xFF\xFE<\x00a/>", 6), "<ntk_ptz_zoom zoom=\"" + std::string(1 << 20, '9'),
        nested(NdiPtzMetadata::kMaxDepth + 1), nested(200000),
        // Closing tags hidden in markup the parser skips must not hide real depth.
        hiddenCloses("<!DOCTYPE x [<!ELEMENT a ANY></a>]>"), hiddenCloses("<!-- > </a> -->"),
        hiddenCloses("<?pi > </a> ?>"), hiddenCloses("<![CDATA[ > </a>]]>"),
        "<a x=\"</a></a></a>\">" + nested(NdiPtzMetadata::kMaxDepth) + "</a>",
    };
    for (const auto& text : bad) {
        FakeViscaTarget target;
        LogCapture log(2);
        EXPECT_FALSE(NdiPtzReceiver(nullptr, target).handleFrame(text)) << text.substr(0, 80);
        EXPECT_TRUE(target.commands().empty());
        EXPECT_NE(log.text().find("not well-formed XML"), std::string::npos) << text.substr(0, 80);
    }
}

TEST(NdiRuntime, ResolvesEveryCallToItsOwnSymbol) {
    std::string error;
    auto lib = platform::NdiRuntime::load(kComplete, error);
    ASSERT_TRUE(lib) << error;
    ASSERT_TRUE(lib->NDIlib_initialize());
    const ndi::send_create create{.p_ndi_name = "PTZ", .clock_audio = true};
    const auto instance = lib->NDIlib_send_create_v2(&create, "{}");
    ASSERT_NE(instance, nullptr);
    char text[] = "<caps/>";
    const ndi::metadata_frame caps{.p_data = text};
    lib->NDIlib_send_add_connection_metadata(instance, &caps);
    ndi::video_frame_v2 video;
    video.xres = 640, video.yres = 360, video.frame_rate_N = 60000, video.frame_rate_D = 1001;
    EXPECT_EQ(lib->NDIlib_send_get_target_frame_size(instance, &video), 640 * 360);
    EXPECT_EQ(lib->NDIlib_send_get_q_factor(instance, &video), 59);
    video.data_size_in_bytes = 1234, video.timestamp = 99;
    lib->NDIlib_send_send_video_async_v2(instance, &video);
    int32_t samples[4] = {-5, 5, 0, 0};
    const ndi::audio_frame_interleaved_32s audio{.no_samples = 2, .p_data = samples};
    lib->NDIlib_util_send_send_audio_interleaved_32s(instance, &audio);
    EXPECT_EQ(journal(*lib, instance), "create PTZ {} 1 ca;meta <caps/> 0 synth;video 1234 99;audio 2 -5;timeout 7");
    ndi::tally tally;
    EXPECT_TRUE(lib->NDIlib_send_get_tally(instance, &tally, 501));
    EXPECT_TRUE(tally.on_program && tally.on_preview);
    lib->NDIlib_send_destroy(instance);
    EXPECT_EQ(journal(*lib, instance, 1),
              "create PTZ {} 1 ca;meta <caps/> 0 synth;video 1234 99;audio 2 -5;free;destroy;timeout 1");
    lib->NDIlib_destroy();
}

TEST(NdiRuntime, IsFoundThroughTheRuntimeFolderVariableForTheCameraAndNamesWhatFails) {
    std::string error;
    EXPECT_FALSE(platform::NdiRuntime::load("/nonexistent/libndi.so.5", error));
    EXPECT_NE(error.find("/nonexistent/libndi.so.5"), std::string::npos) << error;
    {
        RuntimeDir dir(FAKE_NDI_DIR);
        auto lib = platform::NdiRuntime::find(error);
        ASSERT_TRUE(lib) << error;
        EXPECT_EQ(lib->path(), kComplete);
        auto camera = std::make_shared<platform::LinuxPlatform>();
        EXPECT_EQ(camera->ndiLibrary(), camera->ndiLibrary()) << "loaded once";
        network_send sender("{\"ndi\":{}}", "<ndi_capabilities/>", "PTZ", camera);
        EXPECT_EQ(journal(sender.library(), sender.handle()),
                  "create PTZ {\"ndi\":{}} 1;meta <ndi_capabilities/> 0 synth;timeout 7");
    }
    {
        // The folder named is taken at its word: a broken runtime there is reported, not skipped.
        RuntimeDir dir(FAKE_NDI_INCOMPLETE_DIR);
        EXPECT_FALSE(platform::NdiRuntime::find(error));
        EXPECT_EQ(error, std::string(FAKE_NDI_INCOMPLETE_DIR) + "/libndi.so.5 lacks NDIlib_send_get_tally");
    }
}

TEST(NdiRuntime, CameraWithoutUsableRuntimeCannotRunNdi) {
    // Only a runtime in the named folder would do: hide any real one on this machine.
    std::string error;
    RuntimeDir dir("/nonexistent");
    if (platform::NdiRuntime::find(error)) GTEST_SKIP() << "NDI installed";
    LogCapture log(2);
    auto camera = std::make_shared<platform::LinuxPlatform>();
    EXPECT_EQ(thrownMessage<std::runtime_error>([&] { network_send sender("{}", "", "PTZ", camera); }),
              "Cannot run NDI!");
    EXPECT_NE(log.text().find("NDI runtime: cannot load libndi.so.5 ("), std::string::npos) << log.text();
}
