// Audio from the simulated block to the NDI send call: the tone recovered from the sent frames at
// every rate, the frames continuous in samples and timecodes, a rate change while running, the
// sender's queue bound and the shutdown without audio.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
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
#include "support/child_process.h"
#include "support/log_capture.h"
#include "support/thread_names.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;
using AudioSend = sim::NdiSendTap::AudioSend;

namespace {
constexpr double kToneHz = 1000.0;
constexpr double kToneDbfs = -20.0;
constexpr double kFullScale = 2147483648.0;

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

// Channel 0 of a frame; both channels carry the same tone.
std::vector<double> channel0(const AudioSend& send) {
    std::vector<double> out;
    for (size_t i = 0; i < send.samples.size(); i += 2) out.push_back(send.samples[i]);
    return out;
}

// A sine obeys x[n+1] = 2 cos(w) x[n] - x[n-1]; a lost or repeated sample breaks that.
bool followsSine(double before, double at, double after, double w) {
    return std::abs(after - (2 * std::cos(w) * at - before)) < 1e-5 * kFullScale;
}

struct ToneFound {
    double hz = 0, dbfs = -200;
    int brokenInside = 0;    // samples inside a frame that do not follow the sine
    int brokenJunctions = 0; // frame boundaries where samples were lost or repeated
};

// The frequency (least squares on the sine recurrence), the level and the continuity of the tone
// in a run of frames, all read at the rate the frames carry.
ToneFound analyse(const std::vector<AudioSend>& sends) {
    ToneFound found;
    double cross = 0, square = 0, energy = 0;
    size_t count = 0;
    std::vector<double> previous;
    for (const auto& send : sends) {
        const double w = 2 * std::numbers::pi * kToneHz / send.frame.sample_rate;
        const auto x = channel0(send);
        for (size_t n = 1; n + 1 < x.size(); ++n) {
            cross += (x[n + 1] + x[n - 1]) * x[n];
            square += 2 * x[n] * x[n];
            if (!followsSine(x[n - 1], x[n], x[n + 1], w)) ++found.brokenInside;
        }
        if (previous.size() >= 2 && x.size() >= 2 &&
            (!followsSine(previous[previous.size() - 2], previous.back(), x[0], w) ||
             !followsSine(previous.back(), x[0], x[1], w)))
            ++found.brokenJunctions;
        for (double v : x) energy += v * v;
        count += x.size();
        previous = x;
    }
    if (square > 0 && !sends.empty())
        found.hz = std::acos(cross / square) * sends.back().frame.sample_rate / (2 * std::numbers::pi);
    if (count > 0) found.dbfs = 20 * std::log10(std::sqrt(2 * energy / double(count)) / kFullScale);
    return found;
}

// Checks a run of sent frames at one rate: descriptors, tone, continuity and timecodes.
void expectContinuousTone(const std::vector<AudioSend>& sends, int rate, uint64_t overruns, const hardware& hw) {
    ASSERT_GE(sends.size(), 2u);
    const auto area = hw.layout().get_area(3);
    const auto* first = static_cast<const uint8_t*>(hw.host_address(area.offset));
    for (const auto& s : sends) {
        EXPECT_EQ(s.frame.sample_rate, rate);
        EXPECT_EQ(s.frame.no_channels, 2);
        EXPECT_EQ(s.frame.no_samples, 768);
        EXPECT_EQ(s.frame.reference_level, 20);
        const auto* data = reinterpret_cast<const uint8_t*>(s.frame.p_data);
        EXPECT_TRUE(data >= first && data + 768 * 8 <= first + area.size) << "the buffer lies in area 3";
        for (size_t i = 0; i + 1 < s.samples.size(); i += 2) ASSERT_EQ(s.samples[i], s.samples[i + 1]);
    }
    const ToneFound tone = analyse(sends);
    EXPECT_NEAR(tone.hz, kToneHz, 0.5);
    EXPECT_NEAR(tone.dbfs, kToneDbfs, 0.05);
    EXPECT_EQ(tone.brokenInside, 0);
    // Only buffers the block had to fill with nothing waiting (a late capture thread) lose samples.
    EXPECT_LE(uint64_t(tone.brokenJunctions), overruns);

    const double buffer = 768.0 / rate * 1e7;  // 100 ns units
    std::vector<double> steps;
    for (size_t i = 1; i < sends.size(); ++i) steps.push_back(double(sends[i].frame.timecode - sends[i - 1].frame.timecode));
    for (double step : steps) EXPECT_GT(step, 0) << "timecodes never stand still or run back";
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    EXPECT_NEAR(steps[steps.size() / 2], buffer, 0.1 * buffer) << "timecodes advance by the buffer duration";
    if (tone.brokenJunctions == 0) {
        const double span = double(sends.back().frame.timecode - sends.front().frame.timecode);
        EXPECT_NEAR(span, buffer * double(sends.size() - 1), buffer) << "no gap and no overlap over the run";
    }
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
        const auto channelWords = rig.camera.audio().channelWords();
        EXPECT_EQ(channelWords[0], 0x00000555u);
        EXPECT_EQ(channelWords[1], 0x01000555u);
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
    const size_t silent = rig.tap->audioSends().size();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rig.tap->audioSends().size(), silent) << "no input, no frames";
}

TEST(AudioPipeline, StopsWithinOneInterruptSliceWithoutAudioAndSendsNothing) {
    Rig rig(0);
    auto sending = std::make_shared<audio_compress>(rig.hw, rig.sender);
    sending->enable();
    auto capture = std::make_shared<audio_capture>(rig.hw, sending, rig.camera.platform());
    std::this_thread::sleep_for(250ms);
    ASSERT_TRUE(threadRunning("audcap"));

    const auto t0 = std::chrono::steady_clock::now();
    capture.reset();
    const auto took = std::chrono::steady_clock::now() - t0;
    // One 200 ms interrupt wait, plus scheduling on a busy machine.
    EXPECT_LT(took, 350ms);
    EXPECT_FALSE(threadRunning("audcap"));
    EXPECT_TRUE(waitFor([] { return !threadRunning("audcomp"); }, 1000ms)) << "the end marker reached the sender";
    EXPECT_TRUE(rig.tap->audioSends().empty()) << "a buffer that never filled is not sent";
    EXPECT_FALSE(rig.audioState().contains("rate")) << "withdrawn with the capture";
    const auto t1 = std::chrono::steady_clock::now();
    sending.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - t1, 100ms);
}

TEST(AudioCompress, KeepsTheNewestThreeWaitingAndMarksEachDrop) {
    Rig rig(0);
    audio_compress sending(rig.hw, rig.sender);
    sending.enable();
    std::vector<int32_t> samples(768 * 2);
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

TEST(AudioCompress, DropsFramesBeforeEnableAndStopsEvenIfNeverEnabled) {
    Rig rig(0);
    std::vector<int32_t> samples(768 * 2);
    auto sending = std::make_unique<audio_compress>(rig.hw, rig.sender);
    sending->push(numberedFrame(1, samples));
    const auto t0 = std::chrono::steady_clock::now();
    sending.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 100ms);
    EXPECT_TRUE(rig.tap->audioSends().empty());
}

TEST(AudioPipeline, HttpApiServesTheLatestFrameWithItsDescriptor) {
    const int port = freeLoopbackPort();
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
    EXPECT_EQ(raw->get_header_value("X-Sample-Rate"), "48000");
    EXPECT_EQ(raw->get_header_value("X-Channels"), "2");
    EXPECT_EQ(raw->get_header_value("X-Samples"), "768");
    EXPECT_EQ(raw->get_header_value("X-Reference-Level"), "20");
    EXPECT_EQ(raw->get_header_value("X-Timecode"), std::to_string(last.frame.timecode));
    ASSERT_EQ(raw->body.size(), last.samples.size() * 4);
    std::vector<int32_t> samples(last.samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        uint32_t word = 0;
        for (int b = 3; b >= 0; --b) word = word << 8 | static_cast<uint8_t>(raw->body[4 * i + size_t(b)]);
        samples[i] = static_cast<int32_t>(word);
    }
    EXPECT_EQ(samples, last.samples) << "interleaved, little-endian";
}
