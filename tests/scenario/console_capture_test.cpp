// The console's input words read the captures of a virtual camera: the format the tracking
// input found, and the audio input's measured rate.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "control/console.h"
#include "media/audio_capture.h"
#include "media/audio_compress.h"
#include "sim/media/input_format.h"
#include "support/pipeline_rig.h"
#include "support/quiet_settings.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

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
