// The NDI runtime loader against runtimes of our own: every call reaches its own symbol,
// and a missing file or call ends in "Cannot run NDI!".
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "media/network_send.h"
#include "platform/linux_platform.h"
#include "platform/ndi_runtime.h"
#include "support/log_capture.h"
#include "support/thrown_message.h"

namespace {
const std::string kComplete = std::string(FAKE_NDI_DIR) + "/libndi.so.5";
const std::string kIncomplete = std::string(FAKE_NDI_INCOMPLETE_DIR) + "/libndi.so.5";

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
}  // namespace

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
    EXPECT_FALSE(lib->NDIlib_send_get_tally(instance, &tally, 100));
    EXPECT_FALSE(tally.on_program);
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
        EXPECT_EQ(error, kIncomplete + " lacks NDIlib_send_get_tally");
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
