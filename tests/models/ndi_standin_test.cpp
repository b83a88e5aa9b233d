// The NDI stand-in as a library: rate control, frames kept per stream, metadata and tally
// with their time-outs, and the checks on what the application hands over.
#include <gtest/gtest.h>

#include <chrono>
#include <list>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/ndi/ndi_standin.h"

using namespace std::chrono;
using namespace std::chrono_literals;
using sim::NdiRateControl;
using sim::NdiStandInSender;

namespace {
ndi::video_frame_v2 format(int xres, int yres, int n, int d, uint32_t fourcc = ndi::fourcc_SHQ2,
                           ndi::frame_format ff = ndi::frame_format::progressive) {
    ndi::video_frame_v2 f;
    f.xres = xres, f.yres = yres, f.frame_rate_N = n, f.frame_rate_D = d, f.FourCC = fourcc;
    f.frame_format_type = ff;
    return f;
}

milliseconds since(steady_clock::time_point start) { return duration_cast<milliseconds>(steady_clock::now() - start); }

class NdiStandIn : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.NDIlib_initialize());
        ndi::send_create create;
        create.p_ndi_name = "PTZ";
        instance = lib.NDIlib_send_create_v2(&create, "{}");
        ASSERT_NE(instance, nullptr);
    }
    void TearDown() override {
        if (instance) lib.NDIlib_send_destroy(instance);
        lib.NDIlib_destroy();
    }
    void destroySender() {
        lib.NDIlib_send_destroy(instance);
        instance = nullptr;
    }
    void video(ndi::video_frame_v2 f, std::vector<uint8_t>& data, int64_t timecode = 0) {
        f.p_data = data.data();
        f.data_size_in_bytes = int(data.size());
        f.timecode = timecode;
        lib.NDIlib_send_send_video_async_v2(instance, &f);
    }
    // Payloads outlive the sender, as the library requires.
    std::vector<uint8_t>& buffer(size_t n, uint8_t fill = 0) { return buffers.emplace_back(n, fill); }
    int q(const ndi::video_frame_v2& f) { return lib.NDIlib_send_get_q_factor(instance, &f); }
    NdiStandInSender::VideoStream kept(NdiStandInSender::Stream s) { return lib.sender()->video(s); }

    std::list<std::vector<uint8_t>> buffers;
    sim::NdiStandIn lib;
    ndi::send_instance instance = nullptr;
};
using NdiStandInRate = NdiStandIn;
}  // namespace

TEST(NdiStandInRateTarget, TargetSizeFollowsResolutionAndRate) {
    const int p1080_30 = NdiRateControl::targetFrameSize(format(1920, 1080, 30000, 1001));
    const int p1080_60 = NdiRateControl::targetFrameSize(format(1920, 1080, 60000, 1001));
    const int p720_60 = NdiRateControl::targetFrameSize(format(1280, 720, 60, 1));
    EXPECT_NEAR(p1080_30, 1920 * 1080 * 3 / 16, 1920 * 1080 * 3 / 16 / 100);
    EXPECT_LT(p1080_60, p1080_30) << "smaller frames at a higher rate";
    EXPECT_GT(p1080_60 * 60, p1080_30 * 30) << "but more bytes per second";
    EXPECT_LT(p720_60, p1080_60);
    for (const auto& bad : {format(0, 1080, 30, 1), format(1920, 1080, 30, 0), format(1920, -1, 30, 1),
                            format(1920, 1080, -30, 1)})
        EXPECT_EQ(NdiRateControl::targetFrameSize(bad), 0);
    EXPECT_GT(NdiRateControl::targetFrameSize(format(8192, 8192, 1, 1000)), 0) << "no overflow at extremes";
}

TEST_F(NdiStandInRate, QualityConvergesToTheTargetWithEvenSteps) {
    const auto full = format(1920, 1080, 60000, 1001);
    const int target = NdiRateControl::targetFrameSize(full);
    EXPECT_EQ(lib.NDIlib_send_get_target_frame_size(instance, &full), target);
    // An encoder whose output grows with quality, as SpeedHQ's does, with the target near quality 50.
    const auto encodedBytes = [&](int quality) { return target / 60 * (quality + 10); };
    auto& payload = buffer(size_t(target) * 3);
    int quality = q(full);
    for (int frame = 0; frame < 60; ++frame) {
        payload.resize(size_t(encodedBytes(quality)));  // within the capacity: the data stays put
        video(full, payload);
        quality = q(full);
        EXPECT_EQ(quality % 2, 0);
        EXPECT_GE(quality, NdiRateControl::kMinQuality);
        EXPECT_LE(quality, NdiRateControl::kMaxQuality);
    }
    const double ratio = double(encodedBytes(quality)) / target;
    EXPECT_GT(ratio, 0.85);
    EXPECT_LT(ratio, 1.15);
}

TEST_F(NdiStandInRate, StaysInRangeAndMovesOnlyOnFirstFieldsAfterAFrame) {
    auto &big = buffer(4 << 20), &tiny = buffer(8);
    const auto field0 = format(1920, 540, 30000, 1001, ndi::fourcc_SHQ2, ndi::frame_format::field_0);
    const auto field1 = format(1920, 540, 30000, 1001, ndi::fourcc_SHQ2, ndi::frame_format::field_1);
    const int start = q(field0);
    EXPECT_EQ(q(field0), start) << "no frame sent: no change";
    video(field0, big);
    EXPECT_EQ(q(field1), start) << "second field keeps its quality";
    const int lower = q(field0);
    EXPECT_LT(lower, start);
    EXPECT_EQ(q(field0), lower) << "one step per frame sent";
    for (auto [data, bound] : {std::pair{&big, NdiRateControl::kMinQuality}, {&tiny, NdiRateControl::kMaxQuality}}) {
        for (int i = 0; i < 40; ++i) {
            video(field0, *data);
            q(field0);
        }
        EXPECT_EQ(q(field0), bound);
    }
    // The preview stream (lower-case FourCC) has its own control, untouched by the above.
    EXPECT_EQ(q(format(640, 360, 30000, 1001, ndi::fourcc_shq2)), NdiRateControl::kStartQuality);
    EXPECT_EQ(q(format(640, 360, 30, 1, ndi::fourcc('U', 'Y', 'V', 'Y'))), -1) << "not SpeedHQ";
}

TEST_F(NdiStandIn, KeepsTheLatestFrameOfEachStreamByFourccCase) {
    auto &a = buffer(1000, 0xaa), &b = buffer(300, 0xbb), &c = buffer(1200, 0xcc);
    video(format(1920, 360, 50, 1, ndi::fourcc_SHQ2), a, 1);
    video(format(640, 360, 50, 1, ndi::fourcc_shq2), b, 2);
    video(format(1920, 360, 50, 1, ndi::fourcc_SHQ2), c, 3);
    const auto full = kept(NdiStandInSender::full), preview = kept(NdiStandInSender::preview);
    EXPECT_EQ(full.frames, 2u);
    EXPECT_EQ(full.bytes, 2200u);
    EXPECT_EQ(full.payload, c);
    EXPECT_EQ(full.timecode, 3);
    EXPECT_EQ(full.xres, 1920);
    EXPECT_EQ(preview.frames, 1u);
    EXPECT_EQ(preview.payload, b);
    EXPECT_EQ(full.corrupted + preview.corrupted, 0u);
    nlohmann::json state;
    lib.report(state);
    EXPECT_EQ(state["ndi"]["video_frames"]["full"], 2);
    EXPECT_EQ(state["ndi"]["video_frames"]["preview"], 1);
    EXPECT_EQ(state["ndi"]["sender"], "PTZ");
}

TEST_F(NdiStandIn, CatchesAPayloadChangedBeforeTheNextFrameOfItsStream) {
    auto &first = buffer(64, 1), &second = buffer(64, 2);
    const auto f = format(640, 360, 30, 1, ndi::fourcc_shq2);
    video(f, first);
    first[10] = 9;  // reused while the library may still read it
    video(f, second);
    EXPECT_EQ(kept(NdiStandInSender::preview).corrupted, 1u);
    second[0] = 0;  // and the last one is checked when the sender goes
    destroySender();
    EXPECT_EQ(kept(NdiStandInSender::preview).corrupted, 2u);
}

TEST_F(NdiStandIn, RefusesImpossibleFramesAndUnknownHandles) {
    auto f = format(640, 360, 30, 1, ndi::fourcc_SHQ2);
    uint8_t byte = 0;
    f.p_data = &byte;
    f.data_size_in_bytes = -5;
    lib.NDIlib_send_send_video_async_v2(instance, &f);
    EXPECT_EQ(kept(NdiStandInSender::full).refused, 1u);
    EXPECT_EQ(kept(NdiStandInSender::full).frames, 0u);
    ndi::audio_frame_interleaved_32s audio;
    audio.no_channels = 2;
    audio.no_samples = 768;  // but no data
    lib.NDIlib_util_send_send_audio_interleaved_32s(instance, &audio);
    EXPECT_EQ(lib.sender()->audio().refused, 1u);

    const auto before = lib.misuse();
    auto stranger = reinterpret_cast<ndi::send_instance>(&byte);
    lib.NDIlib_send_send_video_async_v2(stranger, &f);
    ndi::metadata_frame m;
    EXPECT_EQ(lib.NDIlib_send_capture(stranger, &m, 0), ndi::frame_type::error);
    lib.NDIlib_send_free_metadata(instance, &m);  // never captured
    EXPECT_EQ(lib.misuse(), before + 3);
}

TEST_F(NdiStandIn, KeepsTheLatestAudioFrame) {
    std::vector<int32_t> samples(768 * 2);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = int32_t(i) - 700;
    ndi::audio_frame_interleaved_32s audio;
    audio.sample_rate = 48000, audio.no_channels = 2, audio.no_samples = 768;
    audio.timecode = 77, audio.reference_level = 20, audio.p_data = samples.data();
    lib.NDIlib_util_send_send_audio_interleaved_32s(instance, &audio);
    lib.NDIlib_util_send_send_audio_interleaved_32s(instance, &audio);
    std::fill(samples.begin(), samples.end(), 0);  // taken when the call returned
    const auto audioKept = lib.sender()->audio();
    EXPECT_EQ(audioKept.frames, 2u);
    EXPECT_EQ(audioKept.sample_rate, 48000);
    EXPECT_EQ(audioKept.reference_level, 20);
    ASSERT_EQ(audioKept.data.size(), 1536u);
    EXPECT_EQ(audioKept.data[0], -700);
    EXPECT_EQ(audioKept.data[1535], 835);
}

TEST_F(NdiStandIn, CaptureHonoursItsTimeOutAndWakesOnInjectedMetadata) {
    ndi::metadata_frame m;
    auto start = steady_clock::now();
    EXPECT_EQ(lib.NDIlib_send_capture(instance, &m, 60), ndi::frame_type::none);
    EXPECT_GE(since(start), 60ms);
    EXPECT_EQ(lib.NDIlib_send_capture(instance, &m, 0), ndi::frame_type::none);
    const std::string xml = "<ntk_ptz_pan_tilt_speed pan_speed=\"0.5\" tilt_speed=\"0\"/>";
    std::thread observer([&] {
        std::this_thread::sleep_for(30ms);
        EXPECT_TRUE(lib.injectMetadata(xml));
    });
    start = steady_clock::now();
    EXPECT_EQ(lib.NDIlib_send_capture(instance, &m, 5000), ndi::frame_type::metadata);
    EXPECT_LT(since(start), 2000ms) << "woken by the injection, not the time-out";
    observer.join();
    ASSERT_NE(m.p_data, nullptr);
    EXPECT_EQ(std::string(m.p_data), xml);
    EXPECT_EQ(m.length, int(xml.size()));
    EXPECT_EQ(lib.sender()->metadataOutstanding(), 1u);
    lib.NDIlib_send_free_metadata(instance, &m);
    EXPECT_EQ(lib.sender()->metadataOutstanding(), 0u);
    EXPECT_EQ(lib.misuse(), 0u);
}

TEST_F(NdiStandIn, InjectedMetadataQueuesInOrderWithABoundedBacklog) {
    const size_t extra = 3;
    for (size_t i = 0; i < NdiStandInSender::kMetadataBacklog + extra; ++i)
        lib.injectMetadata("<m n=\"" + std::to_string(i) + "\"/>");
    EXPECT_EQ(lib.sender()->metadataDropped(), extra);
    ndi::metadata_frame m;
    ASSERT_EQ(lib.NDIlib_send_capture(instance, &m, 0), ndi::frame_type::metadata);
    EXPECT_EQ(std::string(m.p_data), "<m n=\"3\"/>") << "the oldest went first";
    lib.NDIlib_send_free_metadata(instance, &m);
    destroySender();
    EXPECT_FALSE(lib.injectMetadata("<late/>")) << "no receiver can reach a destroyed sender";
}

TEST_F(NdiStandIn, TallyReportsChangesWithinItsTimeOut) {
    ndi::tally t;
    auto start = steady_clock::now();
    EXPECT_FALSE(lib.NDIlib_send_get_tally(instance, &t, 50));
    EXPECT_GE(since(start), 50ms);
    EXPECT_FALSE(t.on_program);
    std::thread observer([&] {
        std::this_thread::sleep_for(30ms);
        lib.setTally(true, false);
    });
    start = steady_clock::now();
    EXPECT_TRUE(lib.NDIlib_send_get_tally(instance, &t, 5000));
    EXPECT_LT(since(start), 2000ms);
    observer.join();
    EXPECT_TRUE(t.on_program);
    EXPECT_FALSE(t.on_preview);
    lib.setTally(true, false);  // the same again is no change
    EXPECT_FALSE(lib.NDIlib_send_get_tally(instance, &t, 0));
    EXPECT_TRUE(t.on_program) << "the current tally is filled in either way";
    lib.setTally(false, true);
    EXPECT_TRUE(lib.NDIlib_send_get_tally(instance, &t, 0));
    EXPECT_TRUE(t.on_preview);
}

TEST_F(NdiStandIn, DestroyingTheSenderReleasesItsWaiters) {
    ndi::metadata_frame m;
    ndi::tally t;
    std::thread capture([&] { EXPECT_EQ(lib.NDIlib_send_capture(instance, &m, 10000), ndi::frame_type::none); });
    std::thread tally([&] { EXPECT_FALSE(lib.NDIlib_send_get_tally(instance, &t, 10000)); });
    std::this_thread::sleep_for(50ms);
    const auto start = steady_clock::now();
    lib.NDIlib_send_destroy(instance);
    capture.join();
    tally.join();
    EXPECT_LT(since(start), 2000ms);
    instance = nullptr;
}

TEST(NdiStandInLife, LifeCycleFollowsInitialisation) {
    sim::NdiStandIn absent(false);
    EXPECT_FALSE(absent.NDIlib_initialize());
    sim::NdiStandIn lib;
    ndi::send_create create;
    create.p_ndi_name = "PTZ";
    EXPECT_EQ(lib.NDIlib_send_create_v2(&create, "{}"), nullptr) << "not initialised";
    EXPECT_EQ(lib.misuse(), 1u);
    ASSERT_TRUE(lib.NDIlib_initialize());
    EXPECT_EQ(lib.initialized(), 1);
    lib.setTally(true, true);  // set before the sender: its first change
    auto instance = lib.NDIlib_send_create_v2(&create, "{\"ndi\":{}}");
    ASSERT_NE(instance, nullptr);
    ndi::tally t;
    EXPECT_TRUE(lib.NDIlib_send_get_tally(instance, &t, 0));
    EXPECT_TRUE(t.on_program && t.on_preview);
    char caps[] = "<ndi_capabilities ntk_ptz=\"true\"/>trailing";
    ndi::metadata_frame m;
    m.p_data = caps;
    m.length = 34;  // a length cuts the text
    lib.NDIlib_send_add_connection_metadata(instance, &m);
    EXPECT_EQ(lib.sender()->connectionMetadata(), std::vector<std::string>{"<ndi_capabilities ntk_ptz=\"true\"/>"});
    EXPECT_EQ(lib.sender()->configData(), "{\"ndi\":{}}");
    lib.NDIlib_send_destroy(instance);
    lib.NDIlib_destroy();
    EXPECT_EQ(lib.initialized(), 0);
    EXPECT_EQ(lib.misuse(), 1u);
    lib.NDIlib_destroy();
    EXPECT_EQ(lib.misuse(), 2u) << "destroyed more often than initialised";
}
