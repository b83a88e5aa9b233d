// The NDI source on the virtual camera: the entry brings it up in its place, and the
// sending and polling threads share it as the camera's pipelines do.
#include <gtest/gtest.h>

#include <stdio_ext.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "app/entry.h"
#include "hw/hardware.h"
#include "media/network_send.h"
#include "support/log_capture.h"
#include "sim/app/virtual_camera.h"
#include "support/quiet_settings.h"

using namespace std::chrono_literals;

namespace {
// PTZCAM_IFACE=lo for a scope, restored after.
struct LoopbackInterface {
    LoopbackInterface() { setenv("PTZCAM_IFACE", "lo", 1); }
    ~LoopbackInterface() { saved.empty() ? unsetenv("PTZCAM_IFACE") : setenv("PTZCAM_IFACE", saved.c_str(), 1); }
    const std::string saved = std::getenv("PTZCAM_IFACE") ? std::getenv("PTZCAM_IFACE") : "";
};

// Runs the entry in-process on the virtual camera with `input` as its console (standard input).
int runEntry(sim::VirtualCamera& camera, const std::string& input, std::vector<std::string> args = {}) {
    int ends[2];
    if (pipe(ends) != 0 || write(ends[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) return -1;
    close(ends[1]);
    const int saved = dup(STDIN_FILENO);
    dup2(ends[0], STDIN_FILENO);
    close(ends[0]);
    std::vector<char*> argv;
    std::string name = "ptzcam-sim";
    argv.push_back(name.data());
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    optind = 1;
    const int status = ptzcam_main(int(argv.size()) - 1, argv.data(), camera.platform());
    __fpurge(stdin);
    clearerr(stdin);
    dup2(saved, STDIN_FILENO);
    close(saved);
    return status;
}
}  // namespace

TEST(NdiSenderScenario, EntryAnnouncesThePtzSourceAfterTheHardwareAndDropsItBeforeIt) {
    LoopbackInterface lo;
    sim::VirtualCamera camera(quietSettings());
    LogCapture capture(4);
    EXPECT_EQ(runEntry(camera, "exit\n", {"-X", "-x"}), 0);
    const std::string log = capture.text();
    auto sender = camera.ndi().sender();
    ASSERT_TRUE(sender) << log;
    EXPECT_EQ(sender->name(), "PTZ");
    EXPECT_FALSE(sender->clockVideo());
    EXPECT_FALSE(sender->clockAudio());
    EXPECT_EQ(sender->configData(), "{\"ndi\":{}}");
    EXPECT_EQ(sender->connectionMetadata(),
              std::vector<std::string>{"<ndi_capabilities ntk_ptz=\"true\" web_control=\"http://127.0.0.1\"/>"});
    EXPECT_TRUE(sender->isClosed()) << "destroyed at shutdown";
    EXPECT_EQ(camera.ndi().initialized(), 0) << "the library was shut down again";
    EXPECT_EQ(camera.ndi().misuse(), 0u);
    const auto xml = log.find("<ndi_capabilities ntk_ptz=\"true\"");
    const auto platformLine = log.find("Platform: ");
    const auto constructed = log.find("network_send Constructor\n");
    const auto destroyed = log.find("network_send Destructor\n");
    ASSERT_NE(constructed, std::string::npos) << log;
    ASSERT_NE(destroyed, std::string::npos) << log;
    EXPECT_LT(xml, platformLine) << "capabilities are built before the hardware";
    EXPECT_LT(platformLine, constructed) << log;
    EXPECT_LT(constructed, destroyed);
}

TEST(NdiSenderScenario, StandInWithoutRuntimeEndsStartUpWithItsMessage) {
    auto settings = quietSettings();
    settings.ndiAvailable = false;
    sim::VirtualCamera camera(settings);
    EXPECT_EQ(runEntry(camera, "exit\n", {"-X", "-x"}), 1);
    EXPECT_FALSE(camera.ndi().sender());
}

TEST(NdiSenderScenario, PipelinesAndPollersShareTheSenderWithoutALock) {
    sim::VirtualCamera camera(quietSettings());
    auto hw = std::make_shared<hardware>(camera.platform());
    auto sender = std::make_shared<network_send>("{}", "<ndi_capabilities/>", "PTZ", camera.platform());
    std::atomic<bool> stop{false};
    std::atomic<int> metadataSeen{0}, tallyChanges{0};

    const auto videoThread = [&](int stream) {
        for (uint8_t n = 0; !stop; ++n) {
            auto f = std::make_shared<compressed_video_frame>();
            f->stream = stream;
            f->width = stream == 0 ? 1920 : 640;
            f->height = stream == 0 ? 1080 : 360;
            f->rate_n = 60000;
            f->rate_d = 1001;
            f->fourcc = stream == 0 ? ndi::fourcc_SHQ2 : ndi::fourcc_shq2;
            f->size = 4096;
            f->data = std::make_unique<uint8_t[]>(f->size);
            std::fill_n(f->data.get(), f->size, n);
            sender->send_video(std::move(f), stream);
            std::this_thread::sleep_for(1ms);
        }
    };
    std::thread full(videoThread, 0), preview(videoThread, 1);
    std::thread audio([&] {
        std::vector<int32_t> samples(768 * 2, 1);
        while (!stop) {
            auto a = std::make_shared<captured_audio_frame>();
            a->data = samples.data();
            sender->send_audio(a);
            std::this_thread::sleep_for(2ms);
        }
    });
    std::thread metadata([&] {
        while (!stop) {
            ndi::metadata_frame m;
            if (sender->library().NDIlib_send_capture(sender->handle(), &m, 200) == ndi::frame_type::metadata) {
                ++metadataSeen;
                sender->library().NDIlib_send_free_metadata(sender->handle(), &m);
            }
        }
    });
    std::thread tally([&] {
        while (!stop) {
            ndi::tally t;
            if (sender->library().NDIlib_send_get_tally(sender->handle(), &t, 500)) ++tallyChanges;
        }
    });

    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(30ms);
        camera.ndi().injectMetadata("<ntk_ptz_zoom zoom=\"0.5\"/>");
        camera.ndi().setTally(i % 2 == 0, false);
    }
    std::this_thread::sleep_for(100ms);
    stop = true;
    for (auto* t : {&full, &preview, &audio, &metadata, &tally}) t->join();

    auto standIn = camera.ndi().sender();
    const auto fullStream = standIn->video(sim::NdiStandInSender::full);
    const auto previewStream = standIn->video(sim::NdiStandInSender::preview);
    EXPECT_GT(fullStream.frames, 10u);
    EXPECT_GT(previewStream.frames, 10u);
    EXPECT_EQ(fullStream.xres, 1920);
    EXPECT_EQ(previewStream.xres, 640);
    EXPECT_EQ(fullStream.corrupted + previewStream.corrupted, 0u) << "each payload held until its successor";
    EXPECT_GT(standIn->audio().frames, 5u);
    EXPECT_EQ(metadataSeen, 5);
    EXPECT_EQ(tallyChanges, 5);
    EXPECT_EQ(standIn->metadataOutstanding(), 0u);
    sender.reset();
    EXPECT_EQ(camera.ndi().sender()->video(sim::NdiStandInSender::full).corrupted, 0u);
    EXPECT_EQ(camera.ndi().misuse(), 0u);
}
