// Audio from the simulated block to the NDI send call: the tone recovered from the sent frames at
// every rate, continuous in samples and timecodes, a rate change while running, the sender's queue
// bound and the shutdown without audio. The entry's order is run by the NDI end-to-end test, the
// rate table's and the ring's edges by the unit tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>

#include <nlohmann/json.hpp>

#include "media/audio_capture.h"
#include "media/audio_compress.h"
#include "support/pipeline_rig.h"
#include "support/log_capture.h"
#include "support/quiet_settings.h"
#include "support/scenario_elapsed.h"
#include "support/thread_names.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;
using AudioSend = sim::NdiSendTap::AudioSend;

namespace {
constexpr double kToneHz = 1000.0, kToneDbfs = -20.0, kFullScale = 2147483648.0;  // the 32-bit peak

// The NDI sender behind a tap that records every audio send; no capture but the audio one, which goes
// before the sender.
struct Rig : PipelineRig {
    explicit Rig(int audioRate) : PipelineRig(quietSettings("none"), {.sender = Sender::tap, .capture = false}) {
        camera.audio().setRate(audioRate);
    }
    // The pipeline as the entry builds it: the sender enabled, the capture its last owner.
    void startCapture() {
        auto sending = std::make_shared<audio_compress>(hw, sender);
        capture = std::make_shared<audio_capture>(hw, sending, camera.platform());
        sending->enable();
    }
    nlohmann::json audioState() { return camera.api().state()["audio"]; }

    std::shared_ptr<audio_capture> capture;
};

// Checks a run of sent frames at one rate: descriptors, the tone, its continuity, the timecodes' pace.
void expectContinuousTone(const std::vector<AudioSend>& sends, int rate, uint64_t overruns, const hardware& hw) {
    ASSERT_GE(sends.size(), 2u);
    const auto area = hw.layout().get_area(3);
    const auto* first = static_cast<const int32_t*>(hw.host_address(area.offset));
    std::vector<double> x;       // channel 0 of every frame, in order
    std::vector<size_t> starts;  // where each frame begins in x
    for (const auto& s : sends) {
        EXPECT_EQ(std::make_tuple(s.frame.sample_rate, s.frame.no_channels, s.frame.no_samples, s.frame.reference_level),
                  std::make_tuple(rate, 2, 768, 20));
        EXPECT_TRUE(s.frame.p_data >= first && s.frame.p_data + 768 * 2 <= first + area.size / 4) << "in area 3";
        starts.push_back(x.size());
        for (size_t i = 0; i + 1 < s.samples.size(); i += 2) {
            ASSERT_EQ(s.samples[i], s.samples[i + 1]);
            x.push_back(s.samples[i]);
        }
    }
    // A sine obeys x[n+1] = 2 cos(w) x[n] - x[n-1]: a lost or repeated sample breaks it at a boundary.
    const double w = 2 * std::numbers::pi * kToneHz / rate;
    const auto isStart = [&](size_t i) { return std::binary_search(starts.begin(), starts.end(), i); };
    std::set<size_t> broken;
    double energy = 0, rising = 0;
    for (size_t n = 1; n + 1 < x.size(); ++n) {
        energy += x[n] * x[n];
        rising += x[n - 1] < 0 && x[n] >= 0;
        if (std::abs(x[n + 1] - (2 * std::cos(w) * x[n] - x[n - 1])) < 1e-5 * kFullScale) continue;
        const size_t boundary = isStart(n) ? n : n + 1;
        ASSERT_TRUE(isStart(boundary)) << "broken inside a frame at sample " << n;
        broken.insert(boundary);
    }
    // Each boundary where samples were lost may add or hide one crossing.
    const double hzPerCrossing = rate / double(x.size());
    EXPECT_NEAR(rising * hzPerCrossing, kToneHz, (2 + double(broken.size())) * hzPerCrossing) << "from the crossings";
    EXPECT_NEAR(20 * std::log10(std::sqrt(2 * energy / double(x.size() - 2)) / kFullScale), kToneDbfs, 0.05);
    // Only buffers the block filled with nothing waiting (a late capture thread) lose samples.
    EXPECT_LE(broken.size(), overruns);
    // The longest run without lost samples spans its buffers' duration (100 ns units), give or take
    // the wake-up delays of its ends.
    const double buffer = 768.0 / rate * 1e7;
    size_t runStart = 0, bestStart = 0, bestEnd = 0;
    for (size_t i = 1; i <= sends.size(); ++i) {
        const bool last = i == sends.size();
        EXPECT_TRUE(last || sends[i].frame.timecode > sends[i - 1].frame.timecode) << "timecodes only go forward";
        if (!last && broken.count(starts[i]) == 0) continue;
        if (i - runStart > bestEnd - bestStart) bestStart = runStart, bestEnd = i;
        runStart = i;
    }
    ASSERT_GE(bestEnd - bestStart, 10u);
    const double span = double(sends[bestEnd - 1].frame.timecode - sends[bestStart].frame.timecode);
    EXPECT_NEAR(span, buffer * double(bestEnd - 1 - bestStart), 1.5 * buffer) << "timecodes advance by the buffer";
}
}  // namespace

TEST(AudioPipeline, SendsTheToneContinuouslyAtEveryRate) {
    for (const int rate : {48000, 44100, 32000, 96000}) {
        SCOPED_TRACE(rate);
        Rig rig(rate);
        rig.startCapture();
        waitFor([&] { return rig.tap->audioSends().size() >= 40; }, 5000ms);
        rig.capture.reset();
        EXPECT_EQ(rig.camera.audio().channelWords(), (std::array<uint32_t, 2>{0x00000555u, 0x01000555u}));
        EXPECT_EQ(rig.camera.audio().counters().refused, 0u);
        expectContinuousTone(rig.tap->audioSends(), rate, rig.camera.audio().counters().overruns, *rig.hw);
    }
}

// The frames' rate after a change is run end to end; here the tone stays continuous across it and the
// tracking thread reports the rate, zero when the audio goes.
TEST(AudioPipeline, FollowsARateChangeWhileRunningAndReportsIt) {
    Rig rig(48000);
    rig.startCapture();
    track tracking(rig.hw, nullptr, rig.capture);
    ASSERT_TRUE(waitFor([&] { return rig.tap->audioSends().size() >= 5; }));
    int rate = -1;
    for (const int want : {32000, 0}) {
        const size_t before = rig.tap->audioSends().size();
        rig.camera.audio().setRate(want);
        EXPECT_TRUE(waitFor([&] { return rig.audioState()["rate"] == want; })) << "the tracking thread re-measures";
        tracking.get_audio_rate(rate);
        EXPECT_EQ(rate, want);
        if (want == 0) break;
        ASSERT_TRUE(waitFor([&] { return rig.tap->audioSends().size() >= before + 25; }));
        auto sends = rig.tap->audioSends();
        sends.erase(sends.begin(), std::find_if(sends.begin(), sends.end(),
                                                [](const AudioSend& s) { return s.frame.sample_rate == 32000; }) + 1);
        expectContinuousTone(sends, 32000, rig.camera.audio().counters().overruns, *rig.hw);
    }
}

TEST(AudioPipeline, StopsWithinOneInterruptSliceWithoutAudioAndSendsNothing) {
    Rig rig(0);
    auto sending = std::make_shared<audio_compress>(rig.hw, rig.sender);
    sending->enable();
    auto capture = std::make_shared<audio_capture>(rig.hw, sending, rig.camera.platform());
    std::this_thread::sleep_for(250ms);
    ASSERT_TRUE(threadRunning("audcap"));
    EXPECT_LT(elapsed([&] { capture.reset(); }), 350ms) << "one 200 ms interrupt wait, and a busy machine";
    EXPECT_FALSE(threadRunning("audcap"));
    EXPECT_TRUE(waitFor([] { return !threadRunning("audcomp"); }, 1000ms)) << "the end marker reached the sender";
    EXPECT_TRUE(rig.tap->audioSends().empty()) << "a buffer that never filled is not sent";
    EXPECT_FALSE(rig.audioState().contains("rate")) << "withdrawn with the capture";
}

TEST(AudioCompress, DropsFramesBeforeEnableThenKeepsTheNewestThreeWaitingAndMarksEachDrop) {
    LogCapture log(2);  // before the rig's threads log
    Rig rig(0);
    std::vector<int32_t> samples(768 * 2);  // outlives the sending threads
    const auto frame = [&](int64_t number) {
        auto f = std::make_shared<captured_audio_frame>();
        f->timecode = number;
        f->data = samples.data();
        return f;
    };
    {
        // Never enabled: the frame is dropped and the end is prompt.
        auto never = std::make_unique<audio_compress>(rig.hw, rig.sender);
        never->push(frame(1));
        EXPECT_LT(elapsed([&] { never.reset(); }), 100ms);
        EXPECT_TRUE(rig.tap->audioSends().empty());
    }
    audio_compress sending(rig.hw, rig.sender);
    sending.enable();
    rig.tap->hold();
    sending.push(frame(0));
    ASSERT_TRUE(waitFor([&] { return rig.tap->waiting() == 1; })) << "the sending thread is held in the call";
    const size_t from = log.text().size();
    for (int64_t n = 1; n <= 5; ++n) sending.push(frame(n));
    EXPECT_EQ(log.text().substr(from), "~~");
    EXPECT_EQ(sending.drops(), 2u);
    rig.tap->release();
    ASSERT_TRUE(waitFor([&] { return rig.tap->audioSends().size() >= 4; }));
    std::this_thread::sleep_for(20ms);
    std::vector<int64_t> sent;
    for (const auto& s : rig.tap->audioSends()) sent.push_back(s.frame.timecode);
    EXPECT_EQ(sent, (std::vector<int64_t>{0, 3, 4, 5}));
}
