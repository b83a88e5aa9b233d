// The NDI stand-in as a library: rate control, frames kept per stream, metadata and tally
// with their time-outs, and the checks on what the application hands over.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/ndi/ndi_standin.h"

using namespace std::chrono;
using namespace std::chrono_literals;

namespace {
struct Running {
    sim::NdiStandIn lib;
    ndi::send_instance instance = nullptr;
    Running() {
        EXPECT_TRUE(lib.NDIlib_initialize());
        ndi::send_create create;
        create.p_ndi_name = "PTZ";
        instance = lib.NDIlib_send_create_v2(&create, "{}");
        EXPECT_NE(instance, nullptr);
    }
    ~Running() {
        if (instance) lib.NDIlib_send_destroy(instance);
        lib.NDIlib_destroy();
    }
};

ndi::video_frame_v2 format(int xres, int yres, int n, int d, uint32_t fourcc = ndi::fourcc_SHQ2,
                           ndi::frame_format ff = ndi::frame_format::progressive) {
    ndi::video_frame_v2 f;
    f.xres = xres;
    f.yres = yres;
    f.frame_rate_N = n;
    f.frame_rate_D = d;
    f.FourCC = fourcc;
    f.frame_format_type = ff;
    return f;
}

// An encoder whose output grows with quality, as SpeedHQ's does.
int encodedBytes(int quality, int scale) { return scale * (quality + 10); }

template <typename Clock = steady_clock>
milliseconds since(typename Clock::time_point start) {
    return duration_cast<milliseconds>(Clock::now() - start);
}
}  // namespace

TEST(NdiStandInRate, TargetSizeFollowsResolutionAndRate) {
    using sim::NdiRateControl;
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

TEST(NdiStandInRate, QualityConvergesToTheTargetWithEvenSteps) {
    const auto full = format(1920, 1080, 60000, 1001);
    const int target = sim::NdiRateControl::targetFrameSize(full);
    std::vector<uint8_t> payload(size_t(target) * 3);  // outlives the sender, as the library requires
    Running r;
    EXPECT_EQ(r.lib.NDIlib_send_get_target_frame_size(r.instance, &full), target);
    // Scale chosen so the target sits near quality 50.
    const int scale = target / 60;
    int q = r.lib.NDIlib_send_get_q_factor(r.instance, &full);
    for (int frame = 0; frame < 60; ++frame) {
        ndi::video_frame_v2 sent = full;
        sent.p_data = payload.data();
        sent.data_size_in_bytes = encodedBytes(q, scale);
        r.lib.NDIlib_send_send_video_async_v2(r.instance, &sent);
        q = r.lib.NDIlib_send_get_q_factor(r.instance, &full);
        EXPECT_EQ(q % 2, 0);
        EXPECT_GE(q, sim::NdiRateControl::kMinQuality);
        EXPECT_LE(q, sim::NdiRateControl::kMaxQuality);
    }
    const double ratio = double(encodedBytes(q, scale)) / target;
    EXPECT_GT(ratio, 0.85);
    EXPECT_LT(ratio, 1.15);
}

TEST(NdiStandInRate, StaysInRangeAndMovesOnlyOnFirstFieldsAfterAFrame) {
    std::vector<uint8_t> big(4 << 20), tiny(8);
    Running r;
    const auto send = [&](std::vector<uint8_t>& data, uint32_t fourcc) {
        auto f = format(1920, 540, 30000, 1001, fourcc, ndi::frame_format::field_0);
        f.p_data = data.data();
        f.data_size_in_bytes = int(data.size());
        r.lib.NDIlib_send_send_video_async_v2(r.instance, &f);
    };
    const auto field0 = format(1920, 540, 30000, 1001, ndi::fourcc_SHQ2, ndi::frame_format::field_0);
    const auto field1 = format(1920, 540, 30000, 1001, ndi::fourcc_SHQ2, ndi::frame_format::field_1);

    const int start = r.lib.NDIlib_send_get_q_factor(r.instance, &field0);
    EXPECT_EQ(r.lib.NDIlib_send_get_q_factor(r.instance, &field0), start) << "no frame sent: no change";
    send(big, ndi::fourcc_SHQ2);
    EXPECT_EQ(r.lib.NDIlib_send_get_q_factor(r.instance, &field1), start) << "second field keeps its quality";
    const int lower = r.lib.NDIlib_send_get_q_factor(r.instance, &field0);
    EXPECT_LT(lower, start);
    EXPECT_EQ(r.lib.NDIlib_send_get_q_factor(r.instance, &field0), lower) << "one step per frame sent";

    for (int i = 0; i < 40; ++i) {
        send(big, ndi::fourcc_SHQ2);
        r.lib.NDIlib_send_get_q_factor(r.instance, &field0);
    }
    EXPECT_EQ(r.lib.NDIlib_send_get_q_factor(r.instance, &field0), sim::NdiRateControl::kMinQuality);
    for (int i = 0; i < 40; ++i) {
        send(tiny, ndi::fourcc_SHQ2);
        r.lib.NDIlib_send_get_q_factor(r.instance, &field0);
    }
    EXPECT_EQ(r.lib.NDIlib_send_get_q_factor(r.instance, &field0), sim::NdiRateControl::kMaxQuality);

    // The preview stream (lower-case FourCC) has its own control, untouched by the above.
    const auto preview = format(640, 360, 30000, 1001, ndi::fourcc_shq2);
    EXPECT_EQ(r.lib.NDIlib_send_get_q_factor(r.instance, &preview), sim::NdiRateControl::kStartQuality);
    const auto raw = format(640, 360, 30, 1, ndi::fourcc('U', 'Y', 'V', 'Y'));
    EXPECT_EQ(r.lib.NDIlib_send_get_q_factor(r.instance, &raw), -1) << "not SpeedHQ";
}

TEST(NdiStandIn, KeepsTheLatestFrameOfEachStreamByFourccCase) {
    std::vector<uint8_t> a(1000, 0xaa), b(300, 0xbb), c(1200, 0xcc);
    Running r;
    const auto send = [&](std::vector<uint8_t>& data, uint32_t fourcc, int64_t timecode) {
        auto f = format(fourcc == ndi::fourcc_SHQ2 ? 1920 : 640, 360, 50, 1, fourcc);
        f.p_data = data.data();
        f.data_size_in_bytes = int(data.size());
        f.timecode = timecode;
        r.lib.NDIlib_send_send_video_async_v2(r.instance, &f);
    };
    send(a, ndi::fourcc_SHQ2, 1);
    send(b, ndi::fourcc_shq2, 2);
    send(c, ndi::fourcc_SHQ2, 3);
    const auto full = r.lib.sender()->video(sim::NdiStandInSender::full);
    const auto preview = r.lib.sender()->video(sim::NdiStandInSender::preview);
    EXPECT_EQ(full.frames, 2u);
    EXPECT_EQ(full.bytes, 2200u);
    EXPECT_EQ(full.payload, c);
    EXPECT_EQ(full.timecode, 3);
    EXPECT_EQ(full.xres, 1920);
    EXPECT_EQ(preview.frames, 1u);
    EXPECT_EQ(preview.payload, b);
    EXPECT_EQ(full.corrupted + preview.corrupted, 0u);

    nlohmann::json state;
    r.lib.report(state);
    EXPECT_EQ(state["ndi"]["video_frames"]["full"], 2);
    EXPECT_EQ(state["ndi"]["video_frames"]["preview"], 1);
    EXPECT_EQ(state["ndi"]["sender"], "PTZ");
}

TEST(NdiStandIn, CatchesAPayloadChangedBeforeTheNextFrameOfItsStream) {
    std::vector<uint8_t> first(64, 1), second(64, 2);
    Running r;
    auto f = format(640, 360, 30, 1, ndi::fourcc_shq2);
    f.data_size_in_bytes = 64;
    f.p_data = first.data();
    r.lib.NDIlib_send_send_video_async_v2(r.instance, &f);
    first[10] = 9;  // reused while the library may still read it
    f.p_data = second.data();
    r.lib.NDIlib_send_send_video_async_v2(r.instance, &f);
    EXPECT_EQ(r.lib.sender()->video(sim::NdiStandInSender::preview).corrupted, 1u);
    second[0] = 0;  // and the last one is checked when the sender goes
    r.lib.NDIlib_send_destroy(r.instance);
    r.instance = nullptr;
    EXPECT_EQ(r.lib.sender()->video(sim::NdiStandInSender::preview).corrupted, 2u);
}

TEST(NdiStandIn, RefusesImpossibleFramesAndUnknownHandles) {
    Running r;
    auto f = format(640, 360, 30, 1, ndi::fourcc_SHQ2);
    uint8_t byte = 0;
    f.p_data = &byte;
    f.data_size_in_bytes = -5;
    r.lib.NDIlib_send_send_video_async_v2(r.instance, &f);
    EXPECT_EQ(r.lib.sender()->video(sim::NdiStandInSender::full).refused, 1u);
    EXPECT_EQ(r.lib.sender()->video(sim::NdiStandInSender::full).frames, 0u);

    ndi::audio_frame_interleaved_32s audio;
    audio.no_channels = 2;
    audio.no_samples = 768;  // but no data
    r.lib.NDIlib_util_send_send_audio_interleaved_32s(r.instance, &audio);
    EXPECT_EQ(r.lib.sender()->audio().refused, 1u);

    const auto before = r.lib.misuse();
    auto stranger = reinterpret_cast<ndi::send_instance>(&byte);
    r.lib.NDIlib_send_send_video_async_v2(stranger, &f);
    ndi::metadata_frame m;
    EXPECT_EQ(r.lib.NDIlib_send_capture(stranger, &m, 0), ndi::frame_type::error);
    r.lib.NDIlib_send_free_metadata(r.instance, &m);  // never captured
    EXPECT_EQ(r.lib.misuse(), before + 3);
}

TEST(NdiStandIn, KeepsTheLatestAudioFrame) {
    Running r;
    std::vector<int32_t> samples(768 * 2);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = int32_t(i) - 700;
    ndi::audio_frame_interleaved_32s audio;
    audio.sample_rate = 48000;
    audio.no_channels = 2;
    audio.no_samples = 768;
    audio.timecode = 77;
    audio.reference_level = 20;
    audio.p_data = samples.data();
    r.lib.NDIlib_util_send_send_audio_interleaved_32s(r.instance, &audio);
    r.lib.NDIlib_util_send_send_audio_interleaved_32s(r.instance, &audio);
    std::fill(samples.begin(), samples.end(), 0);  // taken when the call returned
    const auto kept = r.lib.sender()->audio();
    EXPECT_EQ(kept.frames, 2u);
    EXPECT_EQ(kept.sample_rate, 48000);
    EXPECT_EQ(kept.reference_level, 20);
    ASSERT_EQ(kept.data.size(), 1536u);
    EXPECT_EQ(kept.data[0], -700);
    EXPECT_EQ(kept.data[1535], 835);
}

TEST(NdiStandIn, CaptureHonoursItsTimeOutAndWakesOnInjectedMetadata) {
    Running r;
    ndi::metadata_frame m;
    auto start = steady_clock::now();
    EXPECT_EQ(r.lib.NDIlib_send_capture(r.instance, &m, 60), ndi::frame_type::none);
    EXPECT_GE(since(start), 60ms);
    EXPECT_EQ(r.lib.NDIlib_send_capture(r.instance, &m, 0), ndi::frame_type::none);

    const std::string xml = "<ntk_ptz_pan_tilt_speed pan_speed=\"0.5\" tilt_speed=\"0\"/>";
    std::thread observer([&] {
        std::this_thread::sleep_for(30ms);
        EXPECT_TRUE(r.lib.injectMetadata(xml));
    });
    start = steady_clock::now();
    EXPECT_EQ(r.lib.NDIlib_send_capture(r.instance, &m, 5000), ndi::frame_type::metadata);
    EXPECT_LT(since(start), 2000ms) << "woken by the injection, not the time-out";
    observer.join();
    ASSERT_NE(m.p_data, nullptr);
    EXPECT_EQ(std::string(m.p_data), xml);
    EXPECT_EQ(m.length, int(xml.size()));
    EXPECT_EQ(r.lib.sender()->metadataOutstanding(), 1u);
    r.lib.NDIlib_send_free_metadata(r.instance, &m);
    EXPECT_EQ(r.lib.sender()->metadataOutstanding(), 0u);
    EXPECT_EQ(r.lib.misuse(), 0u);
}

TEST(NdiStandIn, InjectedMetadataQueuesInOrderWithABoundedBacklog) {
    Running r;
    const size_t extra = 3;
    for (size_t i = 0; i < sim::NdiStandInSender::kMetadataBacklog + extra; ++i)
        r.lib.injectMetadata("<m n=\"" + std::to_string(i) + "\"/>");
    EXPECT_EQ(r.lib.sender()->metadataDropped(), extra);
    ndi::metadata_frame m;
    ASSERT_EQ(r.lib.NDIlib_send_capture(r.instance, &m, 0), ndi::frame_type::metadata);
    EXPECT_EQ(std::string(m.p_data), "<m n=\"3\"/>") << "the oldest went first";
    r.lib.NDIlib_send_free_metadata(r.instance, &m);

    r.lib.NDIlib_send_destroy(r.instance);
    r.instance = nullptr;
    EXPECT_FALSE(r.lib.injectMetadata("<late/>")) << "no receiver can reach a destroyed sender";
}

TEST(NdiStandIn, TallyReportsChangesWithinItsTimeOut) {
    Running r;
    ndi::tally t;
    auto start = steady_clock::now();
    EXPECT_FALSE(r.lib.NDIlib_send_get_tally(r.instance, &t, 50));
    EXPECT_GE(since(start), 50ms);
    EXPECT_FALSE(t.on_program);

    std::thread observer([&] {
        std::this_thread::sleep_for(30ms);
        r.lib.setTally(true, false);
    });
    start = steady_clock::now();
    EXPECT_TRUE(r.lib.NDIlib_send_get_tally(r.instance, &t, 5000));
    EXPECT_LT(since(start), 2000ms);
    observer.join();
    EXPECT_TRUE(t.on_program);
    EXPECT_FALSE(t.on_preview);

    r.lib.setTally(true, false);  // the same again is no change
    EXPECT_FALSE(r.lib.NDIlib_send_get_tally(r.instance, &t, 0));
    EXPECT_TRUE(t.on_program) << "the current tally is filled in either way";
    r.lib.setTally(false, true);
    EXPECT_TRUE(r.lib.NDIlib_send_get_tally(r.instance, &t, 0));
    EXPECT_TRUE(t.on_preview);
}

TEST(NdiStandIn, TallySetBeforeTheSenderIsItsFirstChange) {
    sim::NdiStandIn lib;
    lib.setTally(true, true);
    ASSERT_TRUE(lib.NDIlib_initialize());
    ndi::send_create create;
    create.p_ndi_name = "PTZ";
    auto instance = lib.NDIlib_send_create_v2(&create, nullptr);
    ndi::tally t;
    EXPECT_TRUE(lib.NDIlib_send_get_tally(instance, &t, 0));
    EXPECT_TRUE(t.on_program && t.on_preview);
    lib.NDIlib_send_destroy(instance);
    lib.NDIlib_destroy();
}

TEST(NdiStandIn, DestroyingTheSenderReleasesItsWaiters) {
    Running r;
    ndi::metadata_frame m;
    ndi::tally t;
    std::thread capture([&] { EXPECT_EQ(r.lib.NDIlib_send_capture(r.instance, &m, 10000), ndi::frame_type::none); });
    std::thread tally([&] { EXPECT_FALSE(r.lib.NDIlib_send_get_tally(r.instance, &t, 10000)); });
    std::this_thread::sleep_for(50ms);
    const auto start = steady_clock::now();
    r.lib.NDIlib_send_destroy(r.instance);
    capture.join();
    tally.join();
    EXPECT_LT(since(start), 2000ms);
    r.instance = nullptr;
}

TEST(NdiStandIn, LifeCycleFollowsInitialisation) {
    sim::NdiStandIn absent(false);
    EXPECT_FALSE(absent.NDIlib_initialize());

    sim::NdiStandIn lib;
    ndi::send_create create;
    create.p_ndi_name = "PTZ";
    EXPECT_EQ(lib.NDIlib_send_create_v2(&create, "{}"), nullptr) << "not initialised";
    EXPECT_EQ(lib.misuse(), 1u);
    ASSERT_TRUE(lib.NDIlib_initialize());
    EXPECT_EQ(lib.initialized(), 1);
    auto instance = lib.NDIlib_send_create_v2(&create, "{\"ndi\":{}}");
    ASSERT_NE(instance, nullptr);
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
