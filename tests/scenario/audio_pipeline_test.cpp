// Audio from the simulated block to the NDI send call: the tone recovered from the sent frames at
// every rate, the frames continuous in samples and timecodes, a rate change while running, the
// sender's queue bound and the shutdown without audio.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <set>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "hw/hardware.h"
#include "media/audio_capture.h"
#include "media/audio_compress.h"
#include "media/network_send.h"
#include "media/track.h"
#include "sim/app/virtual_camera.h"
#include "sim/ndi/ndi_send_tap.h"
#include "support/free_port.h"
#include "support/log_capture.h"
#include "support/scenario_elapsed.h"
#include "support/thread_names.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;
using AudioSend = sim::NdiSendTap::AudioSend;

namespace {
constexpr double kToneHz = 1000.0;
constexpr double kToneDbfs = -20.0;
constexpr double kFullScale = 2147483648.0;  // the 32-bit peak

sim::SimSettings quiet(int audioRate, int httpPort) {
    sim::SimSettings s;
    s.httpPort = httpPort;
    s.input = "none";
    s.audioRate = audioRate;
    return s;
}

// The virtual camera with the NDI sender behind a tap that records every audio send.
struct Rig {
    explicit Rig(int audioRate, int httpPort = 0) : camera(quiet(audioRate, httpPort)) {
        platform::install(camera.platform());
        tap = std::make_shared<sim::NdiSendTap>(camera.platform());
        hw = std::make_shared<hardware>(camera.platform());
        hw->translate_addresses = true;
        sender = std::make_shared<network_send>("{}", "", "PTZ", tap);
    }
    ~Rig() {
        tap->release();
        capture.reset();
        sender.reset();
        hw.reset();
        platform::install(nullptr);
    }
    // The pipeline as the entry builds it: the sender enabled, the capture its last owner.
    void startCapture() {
        auto sending = std::make_shared<audio_compress>(hw, sender);
        capture = std::make_shared<audio_capture>(hw, sending, camera.platform());
        sending->enable();
    }
    std::vector<AudioSend> waitForSends(size_t count, std::chrono::milliseconds limit = 5000ms) {
        waitFor([&] { return tap->audioSends().size() >= count; }, limit);
        return tap->audioSends();
    }
    nlohmann::json audioState() { return camera.api().state()["audio"]; }

    sim::VirtualCamera camera;
    std::shared_ptr<sim::NdiSendTap> tap;
    std::shared_ptr<hardware> hw;
    std::shared_ptr<network_send> sender;
    std::shared_ptr<audio_capture> capture;
};

// Checks a run of sent frames at one rate: descriptors, the tone, its continuity, the timecodes.
void expectContinuousTone(const std::vector<AudioSend>& sends, int rate, uint64_t overruns, const hardware& hw) {
    ASSERT_GE(sends.size(), 2u);
    const auto area = hw.layout().get_area(3);
    const auto* first = static_cast<const int32_t*>(hw.host_address(area.offset));
    std::vector<double> x;    // channel 0 of every frame, in order
    std::vector<size_t> starts;  // where each frame begins in x
    for (const auto& s : sends) {
        EXPECT_EQ(s.frame.sample_rate, rate);
        EXPECT_EQ(s.frame.no_channels, 2);
        EXPECT_EQ(s.frame.no_samples, 768);
        EXPECT_EQ(s.frame.reference_level, 20);
        EXPECT_TRUE(s.frame.p_data >= first && s.frame.p_data + 768 * 2 <= first + area.size / 4) << "in area 3";
        starts.push_back(x.size());
        for (size_t i = 0; i + 1 < s.samples.size(); i += 2) {
            ASSERT_EQ(s.samples[i], s.samples[i + 1]);
            x.push_back(s.samples[i]);
        }
    }
    // A sine obeys x[n+1] = 2 cos(w) x[n] - x[n-1]: a lost or repeated sample breaks it at a boundary.
    const double w = 2 * std::numbers::pi * kToneHz / rate;
    std::set<size_t> broken;
    double energy = 0, rising = 0;
    for (size_t n = 1; n + 1 < x.size(); ++n) {
        energy += x[n] * x[n];
        rising += x[n - 1] < 0 && x[n] >= 0;
        if (std::abs(x[n + 1] - (2 * std::cos(w) * x[n] - x[n - 1])) < 1e-5 * kFullScale) continue;
        const auto isStart = [&](size_t i) { return std::binary_search(starts.begin(), starts.end(), i); };
        const size_t boundary = isStart(n) ? n : n + 1;
        ASSERT_TRUE(isStart(boundary)) << "broken inside a frame at sample " << n;
        broken.insert(boundary);
    }
    // Each boundary where samples were lost may add or hide one crossing.
    const double hzPerCrossing = rate / double(x.size());
    EXPECT_NEAR(rising * hzPerCrossing, kToneHz, (2 + double(broken.size())) * hzPerCrossing) << "from the crossings";
    const double peak = std::sqrt(2 * energy / double(x.size() - 2));  // of a sine, from its RMS
    EXPECT_NEAR(20 * std::log10(peak / kFullScale), kToneDbfs, 0.05);
    // Only buffers the block filled with nothing waiting (a late capture thread) lose samples.
    EXPECT_LE(broken.size(), overruns);

    // The longest run of frames without lost samples spans its buffers' duration, give or take the
    // wake-up delays of its first and last frame (each under a buffer, or samples would be lost).
    const double buffer = 768.0 / rate * 1e7;  // 100 ns units
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

std::shared_ptr<captured_audio_frame> numberedFrame(int64_t number, std::vector<int32_t>& samples) {
    auto frame = std::make_shared<captured_audio_frame>();
    frame->timecode = number;
    frame->data = samples.data();
    return frame;
}
}  // namespace

TEST(AudioPipeline, SendsTheToneContinuouslyAtEveryRate) {
    for (const int rate : {48000, 44100, 32000, 96000}) {
        SCOPED_TRACE(rate);
        Rig rig(rate);
        std::string log;
        std::vector<AudioSend> sends;
        {
            LogCapture capture(3);
            rig.startCapture();
            sends = rig.waitForSends(40);
            rig.capture.reset();
            log = capture.text();
        }
        EXPECT_EQ(rig.camera.audio().channelWords(), (std::array<uint32_t, 2>{0x00000555u, 0x01000555u}));
        EXPECT_EQ(rig.camera.audio().counters().refused, 0u);
        expectContinuousTone(sends, rate, rig.camera.audio().counters().overruns, *rig.hw);
        const std::string progress = log.substr(log.rfind('\n') + 1);  // after the start-up messages
        const auto marks = size_t(std::count(progress.begin(), progress.end(), ':'));
        EXPECT_GE(marks, sends.size()) << "one mark per captured frame";
        EXPECT_LE(marks, rig.camera.audio().counters().buffers);
    }
}

TEST(AudioPipeline, FollowsARateChangeWhileRunningAndReportsIt) {
    Rig rig(48000);
    rig.startCapture();
    track tracking(rig.hw, nullptr, rig.capture);
    ASSERT_GE(rig.waitForSends(5).size(), 5u);

    rig.camera.audio().setRate(32000);
    const auto carries = [&](int rate) {
        const auto sends = rig.tap->audioSends();
        return std::count_if(sends.begin(), sends.end(), [&](const AudioSend& s) { return s.frame.sample_rate == rate; });
    };
    ASSERT_TRUE(waitFor([&] { return carries(32000) >= 20; })) << "new frames carry the new rate";
    auto sends = rig.tap->audioSends();
    sends.erase(sends.begin(), std::find_if(sends.begin(), sends.end(),
                                            [](const AudioSend& s) { return s.frame.sample_rate == 32000; }) + 1);
    expectContinuousTone(sends, 32000, rig.camera.audio().counters().overruns, *rig.hw);
    int rate = -1;
    tracking.get_audio_rate(rate);
    EXPECT_EQ(rate, 32000);
    EXPECT_EQ(rig.audioState()["rate"], 32000);

    rig.camera.audio().setRate(0);
    EXPECT_TRUE(waitFor([&] { return rig.audioState()["rate"] == 0; })) << "the tracking thread re-measures";
    tracking.get_audio_rate(rate);
    EXPECT_EQ(rate, 0);
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
    Rig rig(0);
    std::vector<int32_t> samples(768 * 2);  // outlives the sending threads
    {
        // Never enabled: the frame is dropped and the end is prompt.
        auto never = std::make_unique<audio_compress>(rig.hw, rig.sender);
        never->push(numberedFrame(1, samples));
        EXPECT_LT(elapsed([&] { never.reset(); }), 100ms);
        EXPECT_TRUE(rig.tap->audioSends().empty());
    }
    audio_compress sending(rig.hw, rig.sender);
    sending.enable();
    rig.tap->hold();
    sending.push(numberedFrame(0, samples));
    ASSERT_TRUE(waitFor([&] { return rig.tap->waiting() == 1; })) << "the sending thread is held in the call";
    std::string marks;
    {
        LogCapture capture(2);
        for (int64_t n = 1; n <= 5; ++n) sending.push(numberedFrame(n, samples));
        marks = capture.text();
    }
    EXPECT_EQ(marks, "~~");
    EXPECT_EQ(sending.drops(), 2u);
    rig.tap->release();
    ASSERT_TRUE(waitFor([&] { return rig.tap->audioSends().size() >= 4; }));
    std::this_thread::sleep_for(20ms);
    std::vector<int64_t> sent;
    for (const auto& s : rig.tap->audioSends()) sent.push_back(s.frame.timecode);
    EXPECT_EQ(sent, (std::vector<int64_t>{0, 3, 4, 5}));
}

TEST(AudioPipeline, HttpApiServesTheLatestFrameWithItsDescriptor) {
    const int port = freePort();
    Rig rig(48000, port);
    ASSERT_TRUE(rig.camera.serve());
    httplib::Client client("127.0.0.1", port);
    auto none = client.Get("/ndi/audio");
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 404);

    rig.startCapture();
    ASSERT_GE(rig.waitForSends(3).size(), 3u);
    rig.capture.reset();  // the latest frame stays put
    const auto last = rig.tap->audioSends().back();
    auto raw = client.Get("/ndi/audio");
    ASSERT_TRUE(raw);
    ASSERT_EQ(raw->status, 200);
    const std::pair<const char*, std::string> headers[] = {{"X-Sample-Rate", "48000"}, {"X-Channels", "2"},
        {"X-Samples", "768"}, {"X-Reference-Level", "20"}, {"X-Timecode", std::to_string(last.frame.timecode)}};
    for (const auto& [name, value] : headers) EXPECT_EQ(raw->get_header_value(name), value) << name;
    ASSERT_EQ(raw->body.size(), last.samples.size() * 4);
    for (size_t i = 0; i < last.samples.size(); ++i) {
        const auto word = static_cast<uint32_t>(last.samples[i]);
        for (size_t b = 0; b < 4; ++b)
            ASSERT_EQ(uint8_t(raw->body[4 * i + b]), uint8_t(word >> (8 * b))) << "interleaved, little-endian";
    }
}
