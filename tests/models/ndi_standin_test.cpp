// The NDI stand-in's frame and metadata rules; the scenarios trust its corruption and misuse counts.
#include <gtest/gtest.h>

#include <chrono>
#include <list>
#include <vector>

#include "sim/ndi/ndi_standin.h"

using namespace std::chrono;  // with its literals
using sim::NdiStandInSender;

namespace {
class NdiStandIn : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.NDIlib_initialize());
        ndi::send_create create;
        create.p_ndi_name = "PTZ";
        instance = lib.NDIlib_send_create_v2(&create, "{}");
        ASSERT_NE(instance, nullptr);
    }
    void TearDown() override { lib.NDIlib_send_destroy(instance), lib.NDIlib_destroy(); }
    // Payloads outlive the sender, as the library requires.
    std::vector<uint8_t>& video(uint32_t fourcc, size_t n, uint8_t fill, int64_t timecode = 0) {
        auto& data = buffers.emplace_back(n, fill);
        ndi::video_frame_v2 f;
        f.xres = 640, f.yres = 360, f.frame_rate_N = 30, f.frame_rate_D = 1, f.FourCC = fourcc;
        f.p_data = data.data(), f.data_size_in_bytes = int(n), f.timecode = timecode;
        lib.NDIlib_send_send_video_async_v2(instance, &f);
        return data;
    }
    NdiStandInSender::VideoStream kept(NdiStandInSender::Stream s) { return lib.sender()->video(s); }

    std::list<std::vector<uint8_t>> buffers;
    sim::NdiStandIn lib;
    ndi::send_instance instance = nullptr;
};
}  // namespace

TEST_F(NdiStandIn, KeepsTheLatestFrameOfEachStreamByFourccCaseAndCatchesAPayloadChangedTooEarly) {
    auto& first = video(ndi::fourcc_SHQ2, 1000, 0xaa, 1);
    video(ndi::fourcc_shq2, 300, 0xbb, 2);
    first[10] = 9;  // reused before the next frame of its stream
    auto& last = video(ndi::fourcc_SHQ2, 1200, 0xcc, 3);
    const auto full = kept(NdiStandInSender::full), preview = kept(NdiStandInSender::preview);
    EXPECT_EQ(full.frames, 2u);
    EXPECT_EQ(full.payload, last);
    EXPECT_EQ(full.timecode, 3);
    EXPECT_EQ(full.corrupted, 1u);
    EXPECT_EQ(preview.frames, 1u);
    EXPECT_EQ(preview.payload, std::vector<uint8_t>(300, 0xbb));
    EXPECT_EQ(preview.corrupted, 0u);
    last[0] = 0;  // the last one is checked when the sender goes
    lib.NDIlib_send_destroy(instance);
    EXPECT_EQ(kept(NdiStandInSender::full).corrupted, 2u);
    EXPECT_FALSE(lib.injectMetadata("<late/>")) << "no receiver can reach a destroyed sender";
}

TEST_F(NdiStandIn, CaptureHonoursItsTimeOutAndTakesInjectedMetadataInOrderWithABoundedBacklog) {
    ndi::metadata_frame m;
    const auto start = steady_clock::now();
    EXPECT_EQ(lib.NDIlib_send_capture(instance, &m, 60), ndi::frame_type::none);
    EXPECT_GE(steady_clock::now() - start, 60ms);
    for (size_t i = 0; i < NdiStandInSender::kMetadataBacklog + 3; ++i) lib.injectMetadata("<m n=\"" + std::to_string(i) + "\"/>");
    EXPECT_EQ(lib.sender()->metadataDropped(), 3u);
    ASSERT_EQ(lib.NDIlib_send_capture(instance, &m, 0), ndi::frame_type::metadata);
    EXPECT_EQ(std::string(m.p_data), "<m n=\"3\"/>") << "the oldest went first";
    EXPECT_EQ(m.length, 10);
    EXPECT_EQ(lib.sender()->metadataOutstanding(), 1u);
    lib.NDIlib_send_free_metadata(instance, &m);
    EXPECT_EQ(lib.sender()->metadataOutstanding(), 0u);
    EXPECT_EQ(lib.misuse(), 0u);
    lib.NDIlib_send_free_metadata(instance, &m);  // freed twice
    auto stranger = reinterpret_cast<ndi::send_instance>(&m);
    EXPECT_EQ(lib.NDIlib_send_capture(stranger, &m, 0), ndi::frame_type::error);
    EXPECT_EQ(lib.misuse(), 2u);
}
