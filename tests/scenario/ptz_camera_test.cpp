// The PTZ service and the camera module on a head without a zoom servo: queue codes reach the
// camera model over LANC, the camera-state words follow, and the video system code follows the
// input; the console's input words read the captures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "control/console.h"
#include "control/ptz.h"
#include "media/audio_capture.h"
#include "media/audio_compress.h"
#include "motion/stepper.h"
#include "sim/media/input_format.h"
#include "support/free_port.h"
#include "support/log_capture.h"
#include "support/pipeline_rig.h"
#include "support/quiet_settings.h"
#include "support/udp_endpoint.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
class PtzCamera : public ::testing::Test {
protected:
    void SetUp() override { setenv("PTZCAM_IFACE", "lo", 1); }
    void TearDown() override {
        service.reset();
        rig.reset();
        unsetenv("PTZCAM_IFACE");
    }
    void start(const std::string& input, bool capture, bool adapter = false, ViscaPorts ports = {0, 0, 0, 0, 0}) {
        sim::SimSettings settings = quietSettings(input);
        settings.servo.present = false;
        settings.motionSpeed = 60;
        settings.camera.powerOnDelay = 300ms;
        settings.camera.powerOffDelay = 200ms;
        settings.multiport = adapter;
        rig = std::make_unique<PipelineRig>(settings, PipelineRig::Parts{PipelineRig::Sender::none, capture});
        testing::internal::CaptureStdout();
        service = std::make_unique<ptz>(nullptr, rig->hw, rig->tracking, true, "2.4.6", rig->camera.platform(), ports);
        testing::internal::GetCapturedStdout();
    }
    sim::CameraModuleModel::View lens() { return rig->camera.cameraModule().view(); }

    std::unique_ptr<PipelineRig> rig;
    std::unique_ptr<ptz> service;
};
}  // namespace

TEST_F(PtzCamera, VideoSystemCodeFollowsEveryInputFormat) {
    start("1080p60", true);
    const struct { const char* input; int code; } cases[] = {
        {"1080p60", 0x00},    {"1080p59.94", 0x05}, {"1080p50", 0x08},    {"1080p30", 0x02},    {"1080p29.97", 0x0D},
        {"1080p25", 0x0A},    {"1080p24", 0x24},    {"1080p23.98", 0x23}, {"1080i60", 0x01},    {"1080i59.94", 0x06},
        {"1080i50", 0x09},    {"720p60", 0x03},     {"720p59.94", 0x07},  {"720p50", 0x0B},     {"720p30", 0x04},
        {"720p25", 0x0C},     {"720p24", 0x31},     {"576i", 0x36},       {"480i", 0x36},       {"none", 0x36},
    };
    ASSERT_EQ(std::size(cases), sim::InputFormat::names().size());
    for (const auto& c : cases) {
        rig->camera.input().set(*sim::InputFormat::parse(c.input));
        EXPECT_TRUE(waitFor([&] { return service->querySignalCodes().video == c.code; }, 5s)) << c.input;
    }
}

TEST_F(PtzCamera, CodesWithoutServoDriveTheCameraAndItsStateWords) {
    start("none", false);
    EXPECT_EQ((std::pair{service->querySignalCodes().video, service->querySignalCodes().audio}), (std::pair{0x36, 0}));
    EXPECT_EQ(service->stepperRef().multiport_mode.load(), 0);

    service->pushCommand({VISCA_PTZ_ZOOM_TELE, 7, 0});
    EXPECT_TRUE(waitFor([&] { return lens().zoom > 300; }));
    service->pushCommand({VISCA_PTZ_ZOOM_STOP, 0, 0});
    EXPECT_TRUE(waitFor([&] { return rig->camera.fpga().peek(1024 + 16) == 0; }));
    service->pushCommand({NDI_ZOOM_SPEED, -1.0f, 0});
    EXPECT_TRUE(waitFor([&] { return lens().lanc == 0x1E28; }));
    service->pushCommand({NDI_FOCUS_SPEED, 0.5f, 0});
    EXPECT_TRUE(waitFor([&] { return lens().lanc == 0xF528 && service->cameraWords().focus_mode == 1; }));

    service->pushCommand({NDI_FOCUS_AUTO, 0, 0});
    EXPECT_TRUE(waitFor([&] { return service->cameraWords().focus_mode == 0 && !lens().autoFocus; }));
    const int32_t exposure = service->cameraWords().exposure_mode;
    service->pushCommand({VISCA_PTZ_AE_AUTO, 0, 0});
    EXPECT_TRUE(waitFor([&] { return service->cameraWords().exposure_mode == (exposure == 0 ? 1 : 0); }, 3s));
    EXPECT_TRUE(waitFor([&] { return !lens().autoExposure; }, 3s));
    service->pushCommand({VISCA_PTZ_IRIS, 322, 4});
    EXPECT_TRUE(waitFor([&] { return lens().lanc == 0x5328 && service->cameraWords().exposure_mode == 1; }, 3s));

    service->pushCommand({VISCA_PTZ_FOCUS_MANUAL, 0, 0});
    EXPECT_TRUE(waitFor([&] { return service->cameraWords().focus_mode == 1; }));
    // Each key is one LANC camera command (second byte 0x18), pressed once.
    const struct { int32_t code; uint32_t lanc; } keyed[] = {{VISCA_PTZ_KEY_C2, 0xC218}, {VISCA_PTZ_KEY_84, 0x8418},
        {VISCA_PTZ_KEY_86, 0x8618}, {VISCA_PTZ_KEY_C4, 0xC418}, {VISCA_PTZ_KEY_A2, 0xA218}, {VISCA_PTZ_MENU_TOGGLE, 0xB418}};
    for (const auto& k : keyed) {
        const uint64_t keys = lens().keys;
        service->pushCommand({k.code, 0, 0});
        EXPECT_TRUE(waitFor([&] { return lens().lanc == k.lanc && lens().keys == keys + 1; })) << std::hex << k.lanc;
    }

    service->pushCommand({VISCA_PTZ_POWER, 3, 0});
    EXPECT_TRUE(waitFor([&] { return service->cameraPowerGet() == CameraModule::kOffAnswer; }, 5s));
    service->pushCommand({VISCA_PTZ_POWER, 2, 0});
    EXPECT_TRUE(waitFor([&] { return lens().on && service->cameraPowerGet() == CameraModule::kOn; }, 5s));
}

TEST_F(PtzCamera, AdapterCarriesTheKeysAndItsLossLeavesVisca) {
    const uint16_t kVisca = freePort(), kReplies = freePort();
    UdpEndpoint controller(kReplies);
    LogCapture log(2);  // before the camera's threads log
    start("none", false, true, ViscaPorts{0, kVisca, 0, 0, kReplies});
    ASSERT_EQ(service->stepperRef().multiport_mode.load(), 1);
    sim::MultiPortModel& adapter = *rig->camera.multiPort();
    const auto sent = [&](const std::string& frame) {
        return waitFor([&] {
            const auto f = adapter.frames();
            return !f.empty() && f.back() == frame;
        });
    };
    service->pushCommand({VISCA_PTZ_ZOOM_WIDE, 3, 0});
    EXPECT_TRUE(sent("#7530*"));
    service->pushCommand({VISCA_PTZ_ZOOM_STOP, 0, 0});
    EXPECT_TRUE(sent("#7590*"));
    EXPECT_TRUE(waitFor([&] { return adapter.replies() > 0; }, 5s));  // its query answered by viscaPTZ
    // The zoom restart finds no servo and probes the adapter again; the reopened port is served.
    const visca::Bytes request = visca::frame(visca::kTypeCommand, 5, visca::Bytes{0x81, 0x11, 0x06, 0x05, 0xFF});
    controller.sendTo(kVisca, request);
    EXPECT_EQ(controller.receive(2s), visca::replyTo(request, visca::ackPayload(1)));
    EXPECT_EQ(controller.receive(5s), visca::replyTo(request, visca::completionPayload(1)));
    const auto frames = adapter.frames();
    EXPECT_EQ(std::count(frames.begin(), frames.end(), "#tulmo*"), 2);
    EXPECT_EQ(service->stepperRef().multiport_mode.load(), 1);
    const uint64_t replies = adapter.replies();
    EXPECT_TRUE(waitFor([&] { return adapter.replies() > replies; }, 5s));

    const size_t before = log.text().size();
    adapter.hangUp();
    const visca::Bytes power = visca::frame(visca::kTypeInquiry, 9, visca::Bytes{0x81, 0x09, 0x04, 0x00, 0xFF});
    controller.sendTo(kVisca, power);
    EXPECT_EQ(controller.receive(2s), visca::replyTo(power, visca::Bytes{0x90, 0x50, 0x02, 0xFF}));
    service->pushCommand({VISCA_PTZ_ZOOM_TELE, 2, 0});
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(log.text().substr(before), "MultiPort:: adapter lost\n");
    service.reset();  // its threads end before the log goes back
    rig.reset();
}

namespace {
std::string reply(std::shared_ptr<video_capture> video, std::shared_ptr<audio_capture> audio, std::string line) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    Console console(std::move(video), std::move(audio), [](unsigned, DebugArgs) {}, stdin, out);
    console.handleLine(line.data());
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}
}  // namespace

TEST(ConsoleOnCaptures, VideoInShowsTheFramePictureAndAudioInTheMeasuredRate) {
    PipelineRig rig(quietSettings("1080i59.94"), {});
    for (const auto& [input, line] : {std::pair{"1080i59.94", "video_in 1920x1080i59.94\n"}, {"720p50", "video_in 1280x720p50.00\n"}}) {
        rig.camera.input().set(*sim::InputFormat::parse(input));
        EXPECT_TRUE(waitFor([&, line = line] { return reply(rig.grabber, nullptr, "video_in\n") == line; }, 5s)) << line;
    }
    auto audio = std::make_shared<audio_capture>(rig.hw, std::make_shared<audio_compress>(rig.hw, rig.sender),
                                                 rig.camera.platform());
    EXPECT_EQ(reply(nullptr, audio, "audio_in\n"), "audio_in 48000Hz Stereo\n");
    EXPECT_EQ(reply(nullptr, audio, "audio_out\n"), "audio_out on\n");
}
