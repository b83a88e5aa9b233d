// The streaming half on the simulator: captured pictures through the encoder cores and the senders
// to the NDI stand-in, checked by decoding what was sent with an independent SpeedHQ decoder.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cmath>
#include <cstring>
#include <set>

#include <nlohmann/json.hpp>

#include "sim/media/speedhq_decoder.h"
#include "support/free_port.h"
#include "support/child_process.h"
#include "support/log_capture.h"
#include "support/pipeline_rig.h"
#include "support/quiet_settings.h"
#include "support/scenario_elapsed.h"
#include "sim/media/test_picture.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;
using Stream = sim::NdiStandInSender::Stream;

namespace {
sim::SimSettings settings(const std::string& input, int cores, int port = 0) {
    sim::SimSettings s = quietSettings(input);
    s.httpPort = port;
    s.encoderCores = cores;
    return s;
}

// Without `capture` only the compressor runs.
struct Rig : PipelineRig {
    Rig(const std::string& input, int cores, bool capture = true, int port = 0)
        : PipelineRig(settings(input, cores, port), {.capture = capture}) {}
    sim::NdiStandInSender::VideoStream sent(Stream s) { return camera.ndi().sender()->video(s); }
    bool framesSent(Stream s, uint64_t n, std::chrono::milliseconds limit = 3000ms) {
        return waitFor([&] { return sent(s).frames >= n; }, limit);
    }
    // A 50 Hz capture of the test source written straight into the raw window.
    std::shared_ptr<video_capture::frame_t> paint(int width, int height, int stream, uint32_t offset, int field) {
        auto f = paintedFrame(width, height, stream, offset, 7);
        f->rate_n = 50000;
        f->rate_d = 1000;
        f->timecode = 4242;
        f->field = field;
        return f;
    }
    std::shared_ptr<video_capture::frame_pair_t> fullOnly(int width, int height) {
        return std::make_shared<video_capture::frame_pair_t>(
            video_capture::frame_pair_t{paint(width, height, 0, 0, 2), nullptr});
    }
};

// The mean of each bar, inside its edges, over the upper half of the picture, within 6 of the bar's.
bool colourBars(const sim::DecodedPicture& p) {
    for (int bar = 0; bar < 7; ++bar) {
        double y = 0, cb = 0, cr = 0;
        int n = 0;
        for (int line = p.height / 10; line < p.height / 2; line += 2)
            for (int x = 0; x < p.width; ++x) {
                if (sim::TestPicture::barAt(x, p.width) != bar || sim::TestPicture::barAt(x - 8, p.width) != bar ||
                    sim::TestPicture::barAt(x + 8, p.width) != bar)
                    continue;
                y += p.lumaAt(x, line), cb += p.cbAt(x, line), cr += p.crAt(x, line), ++n;
            }
        const auto& want = sim::TestPicture::kBars[bar];
        if (n == 0 || std::abs(y / n - want.y) > 6 || std::abs(cb / n - want.cb) > 6 || std::abs(cr / n - want.cr) > 6)
            return false;
    }
    return true;
}

// A payload that decodes, at the sent size, to the colour bars.
bool decodesToBars(const sim::NdiStandInSender::VideoStream& v) {
    const auto picture = sim::decodeSpeedHq(v.payload, v.fourcc, v.xres, v.yres);
    return !v.payload.empty() && picture && picture->width == v.xres && picture->height == v.yres &&
           colourBars(*picture);
}

void expectDecodesToBars(const sim::NdiStandInSender::VideoStream& v) { EXPECT_TRUE(decodesToBars(v)); }

// A loaded machine may let a capture be coded before its engine wrote it (an empty buffer): the
// stream must show the bars within a few frames.
void expectStreamShowsBars(Rig& rig, Stream s) {
    for (int i = 0; i < 20; ++i) {
        if (decodesToBars(rig.sent(s))) return;
        std::this_thread::sleep_for(50ms);
    }
    expectDecodesToBars(rig.sent(s));
}
}  // namespace

class CompressDecode : public testing::TestWithParam<std::tuple<const char*, int>> {};

TEST_P(CompressDecode, BothStreamsDecodeToTheColourBars) {
    const auto [input, cores] = GetParam();
    const bool interlaced = std::strchr(input, 'i') != nullptr;
    Rig rig(input, cores);
    EXPECT_EQ(rig.compressor->core_count(), cores);
    // Past the first pictures after the input locks, which may be captured before the source wrote them.
    // The bound is generous: one core coding 1080p under the thread sanitizer beside another test is slow.
    ASSERT_TRUE(rig.framesSent(Stream::full, 8, 20000ms));
    ASSERT_TRUE(rig.framesSent(Stream::preview, 4, 20000ms));
    std::set<ndi::frame_format> formats;
    for (int i = 0; i < 12; ++i) {
        const auto full = rig.sent(Stream::full);
        formats.insert(full.format);
        EXPECT_EQ(full.fourcc, ndi::fourcc_SHQ2);
        EXPECT_EQ(full.xres, 1920);
        EXPECT_EQ(full.yres, interlaced ? 540 : 1080);
        EXPECT_EQ(full.rate_n, 60000);
        EXPECT_EQ(full.rate_d, 1001);
        std::this_thread::sleep_for(9ms);
    }
    if (interlaced)  // both fields show on a quiet machine; a loaded one may drop every second
        for (auto f : formats) EXPECT_TRUE(f == ndi::frame_format::field_0 || f == ndi::frame_format::field_1);
    else
        EXPECT_EQ(formats, (std::set<ndi::frame_format>{ndi::frame_format::progressive}));
    const auto full = rig.sent(Stream::full);
    const auto preview = rig.sent(Stream::preview);
    EXPECT_EQ(preview.fourcc, ndi::fourcc_shq2);
    EXPECT_EQ(preview.xres, 640);
    EXPECT_EQ(preview.yres, interlaced ? 180 : 360);
    expectStreamShowsBars(rig, Stream::full);
    if (!interlaced) {
        expectStreamShowsBars(rig, Stream::preview);
    } else {
        // A field's preview may be coded before its engine wrote it (captured a field after the full
        // picture): only a valid picture here; the fields' content is checked on the full stream.
        const auto p = rig.sent(Stream::preview);
        const auto picture = sim::decodeSpeedHq(p.payload, p.fourcc, p.xres, p.yres);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->height, 180);
    }
    const auto model = rig.camera.encoder().counters();
    EXPECT_EQ(model.modelErrors, 0u) << rig.camera.encoder().lastError();
    EXPECT_EQ(model.overflows, 0u);
    EXPECT_GE(model.tableLoads, 1u);
    EXPECT_EQ(full.corrupted + preview.corrupted, 0u);
}

INSTANTIATE_TEST_SUITE_P(InputsAndCores, CompressDecode,
                         testing::Combine(testing::Values("1080p59.94", "1080i59.94"), testing::Values(1, 2, 4)));

// Both engines capture the same picture and its end interrupts once both are in memory, so no
// preview is coded before it was written: every preview sent shows the bars, at every rate.
class PreviewDecode : public testing::TestWithParam<const char*> {};

TEST_P(PreviewDecode, EveryPreviewSentShowsTheBars) {
    Rig rig(GetParam(), 4);
    ASSERT_TRUE(rig.framesSent(Stream::preview, 3, 10000ms));
    for (uint64_t seen = rig.sent(Stream::preview).frames, checked = 0; checked < 4; ++checked) {
        ASSERT_TRUE(rig.framesSent(Stream::preview, seen + 1, 5000ms));
        const auto preview = rig.sent(Stream::preview);
        seen = preview.frames;
        EXPECT_TRUE(decodesToBars(preview)) << "preview " << seen;
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, PreviewDecode,
                         testing::Values("1080p25", "1080i50", "720p25"));

TEST(CompressScenario, StandardDefinitionPreviewIsACopyOfTheFullPicture) {
    Rig rig("none", 2, false);
    // A field of 720x288 with a preview that names no buffer of its own.
    const auto push = [&](uint32_t offset, int field) {
        auto pair = std::make_shared<video_capture::frame_pair_t>();
        pair->full = rig.paint(720, 288, 0, offset, field);
        pair->preview = std::make_shared<video_capture::frame_t>(*pair->full);
        pair->preview->stream = 1;
        pair->preview->block = 528;
        pair->preview->address = video_capture::no_buffer;
        rig.compressor->push(pair);
    };
    push(0, 0);
    ASSERT_TRUE(rig.framesSent(Stream::full, 1));
    ASSERT_TRUE(rig.framesSent(Stream::preview, 1));
    const auto full = rig.sent(Stream::full), preview = rig.sent(Stream::preview);
    EXPECT_EQ(full.fourcc, ndi::fourcc_SHQ2);
    EXPECT_EQ(preview.fourcc, ndi::fourcc_shq2);
    EXPECT_EQ(preview.payload, full.payload);
    EXPECT_EQ(full.xres, 720);  // cut to a multiple of 16: already one
    EXPECT_EQ(full.format, ndi::frame_format::field_0);
    EXPECT_EQ(preview.format, ndi::frame_format::field_0);
    EXPECT_EQ(full.timecode, 4242);
    expectDecodesToBars(preview);
    EXPECT_EQ(rig.camera.encoder().counters().frames, 1u);  // coded once

    push(0x200000, 1);
    ASSERT_TRUE(rig.framesSent(Stream::preview, 2));
    EXPECT_EQ(rig.sent(Stream::full).format, ndi::frame_format::field_1);
    EXPECT_EQ(rig.sent(Stream::preview).format, ndi::frame_format::field_1);
}

TEST(CompressScenario, CoreOverflowDropsThatFrameOnly) {
    LogCapture log(2);
    Rig rig("none", 4, false);
    rig.camera.encoder().inject(sim::EncoderCores::Fault::overflow, 2);
    rig.compressor->push(rig.fullOnly(640, 360));
    ASSERT_TRUE(waitFor([&] { return rig.camera.encoder().counters().frames == 1; }, 2000ms));
    rig.compressor->push(rig.fullOnly(640, 360));
    ASSERT_TRUE(rig.framesSent(Stream::full, 1));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(rig.sent(Stream::full).frames, 1u);
    EXPECT_EQ(rig.camera.encoder().counters().overflows, 1u);
    expectDecodesToBars(rig.sent(Stream::full));
}

TEST(CompressScenario, StalledCoreBoundsTheQueueAndStillStops) {
    LogCapture log(2);
    Rig rig("none", 4, false);
    rig.camera.encoder().inject(sim::EncoderCores::Fault::stall, 3);
    EXPECT_TRUE(rig.compressor->push(rig.fullOnly(640, 360)));
    ASSERT_TRUE(waitFor([&] { return rig.camera.encoder().counters().jobs == 3; }, 2000ms));
    bool accepted[5];
    for (bool& a : accepted) a = rig.compressor->push(rig.fullOnly(640, 360));
    EXPECT_TRUE(accepted[0] && accepted[1]);
    EXPECT_FALSE(accepted[2]);  // three waiting
    EXPECT_FALSE(accepted[4]);
    EXPECT_EQ(rig.compressor->drops().capture, 2u);
    const std::string text = log.text();
    EXPECT_EQ(text.substr(text.rfind('\n') + 1), "!!");  // after the start-up messages
    EXPECT_EQ(rig.sent(Stream::full).frames, 0u);
    EXPECT_LT(elapsed([&] { rig.compressor.reset(); }), 600ms);
}

TEST(CompressScenario, HttpApiServesTheSentFramesAndState) {
    const int port = freePort();
    Rig rig("1080p50", 4, true, port);
    ASSERT_TRUE(rig.camera.serve());
    // Full frames always go first, so they flow even when a sanitizer slows the compressor.
    ASSERT_TRUE(rig.framesSent(Stream::full, 2, 20000ms));
    httplib::Client client("127.0.0.1", port);
    auto raw = client.Get("/ndi/video/full");
    ASSERT_TRUE(raw);
    ASSERT_EQ(raw->status, 200);
    const std::pair<const char*, const char*> headers[] = {
        {"X-FourCC", "SHQ2"}, {"X-Width", "1920"}, {"X-Height", "1080"}, {"X-Frame-Rate", "50000/1000"},
        {"X-Frame-Format", "1"}};
    for (const auto& [name, value] : headers)
        EXPECT_EQ(raw->get_header_value(name), value) << name;
    EXPECT_NE(raw->get_header_value("X-Timecode"), "0");
    sim::NdiStandInSender::VideoStream v;
    v.payload.assign(raw->body.begin(), raw->body.end());
    v.fourcc = ndi::fourcc_SHQ2;
    v.xres = 1920;
    v.yres = 1080;
    expectDecodesToBars(v);
    auto png = client.Get("/ndi/video/full.png");
    ASSERT_TRUE(png);
    ASSERT_EQ(png->status, 200);
    EXPECT_EQ(png->get_header_value("Content-Type"), "image/png");
    EXPECT_EQ(png->body.substr(1, 3), "PNG");
    const auto state = nlohmann::json::parse(httpGet(port, "/state"));
    EXPECT_GT(state["compress"]["frames"].get<uint64_t>(), 0u);
    EXPECT_GT(state["compress"]["table_loads"].get<uint64_t>(), 0u);
    EXPECT_EQ(state["compress"]["overflows"].get<uint64_t>(), 0u);
    EXPECT_TRUE(state["compress"]["drops"].contains("capture"));
}
