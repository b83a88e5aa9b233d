// The streaming half on the simulator: captured pictures through the encoder cores and the senders
// to the NDI stand-in, checked by decoding what was sent with an independent SpeedHQ decoder; the
// senders when the NDI side stalls and the shutdown with full queues.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <future>

#include "sim/media/speedhq_decoder.h"
#include "sim/media/test_picture.h"
#include "support/log_capture.h"
#include "support/picture_match.h"
#include "support/pipeline_rig.h"
#include "support/quiet_settings.h"
#include "support/scenario_elapsed.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;
using Stream = sim::NdiStandInSender::Stream;

namespace {
constexpr uint64_t kPictureNumber = 321;

sim::SimSettings settings(const std::string& input, int cores) {
    sim::SimSettings s = quietSettings(input);
    s.encoderCores = cores;
    return s;
}

// Without capture the pictures come from the test, painted into the raw window.
struct Rig : PipelineRig {
    Rig(const std::string& input, int cores, Parts parts = {}) : PipelineRig(settings(input, cores), parts) {}
    explicit Rig(Sender sender = Sender::standIn) : Rig("none", 4, {.sender = sender, .capture = false}) {}
    sim::NdiStandInSender::VideoStream sent(Stream s) { return camera.ndi().sender()->video(s); }
    bool framesSent(Stream s, uint64_t n, std::chrono::milliseconds limit = 3000ms) {
        return waitFor([&] { return sent(s).frames >= n; }, limit);
    }
    std::shared_ptr<video_capture::frame_t> picture(int width, int height, int stream, int64_t timecode,
                                                    uint32_t offset = 0, int field = 2) {
        auto f = paintedFrame(width, height, stream, offset, kPictureNumber);
        f->rate_n = 60000;
        f->rate_d = 1001;
        f->timecode = timecode;
        f->field = field;
        return f;
    }
    std::shared_ptr<video_capture::frame_pair_t> fullOnly() {
        return std::make_shared<video_capture::frame_pair_t>(
            video_capture::frame_pair_t{picture(640, 360, 0, 1), nullptr});
    }
    // One 640x360 picture of one stream through the cores; waits until the cores have taken it.
    void pushOne(int stream, int64_t timecode) {
        const auto before = camera.encoder().counters().frames;
        auto pair = std::make_shared<video_capture::frame_pair_t>();
        (stream ? pair->preview : pair->full) = picture(640, 360, stream, timecode, stream ? 0x1000000u : 0u);
        compressor->push(pair);
        ASSERT_TRUE(waitFor([&] { return camera.encoder().counters().frames > before; }));
    }
    std::vector<int64_t> sentTimecodes(uint32_t fourcc) {
        std::vector<int64_t> out;
        for (const auto& s : tap->sends())
            if (s.fourcc == fourcc) out.push_back(s.timecode);
        return out;
    }
};

// The mean of each bar, inside its edges, over the upper half of the picture, within 6 of the bar's.
bool colourBars(const sim::DecodedPicture& p) {
    for (int bar = 0; bar < 7; ++bar) {
        double y = 0, cb = 0, cr = 0;
        int n = 0;
        for (int line = p.height / 10; line < p.height / 2; line += 2)
            for (int x = 0; x < p.width; ++x)
                if (sim::TestPicture::barAt(x, p.width) == bar && sim::TestPicture::barAt(x - 8, p.width) == bar &&
                    sim::TestPicture::barAt(x + 8, p.width) == bar)
                    y += p.lumaAt(x, line), cb += p.cbAt(x, line), cr += p.crAt(x, line), ++n;
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

// A loaded machine may let a capture be coded before its engine wrote it (an empty buffer): the
// stream must show the bars within a few frames.
bool streamShowsBars(Rig& rig, Stream s) {
    return waitFor([&] { return decodesToBars(rig.sent(s)); }, 1000ms);
}

size_t marks(const std::string& text, char mark) { return size_t(std::count(text.begin(), text.end(), mark)); }
}  // namespace

class CompressDecode : public testing::TestWithParam<std::tuple<const char*, int>> {};

TEST_P(CompressDecode, BothStreamsDecodeToTheColourBars) {
    const auto [input, cores] = GetParam();
    const bool interlaced = std::strchr(input, 'i') != nullptr;
    Rig rig(input, cores);
    EXPECT_EQ(rig.compressor->core_count(), cores);
    // Past the first pictures after the input locks, which may be captured before the source wrote them.
    // The bound is generous: one core coding 1080p under the thread sanitizer beside another test is slow.
    ASSERT_TRUE(rig.framesSent(Stream::full, 8, 20000ms) && rig.framesSent(Stream::preview, 4, 20000ms));
    const auto full = rig.sent(Stream::full);
    EXPECT_EQ(std::make_tuple(full.fourcc, full.xres, full.yres, full.rate_n, full.rate_d),
              std::make_tuple(ndi::fourcc_SHQ2, 1920, interlaced ? 540 : 1080, 60000, 1001));
    if (interlaced)  // both fields show on a quiet machine; a loaded one may drop every second
        EXPECT_TRUE(full.format == ndi::frame_format::field_0 || full.format == ndi::frame_format::field_1);
    else
        EXPECT_EQ(full.format, ndi::frame_format::progressive);
    const auto preview = rig.sent(Stream::preview);
    EXPECT_EQ(std::make_tuple(preview.fourcc, preview.xres, preview.yres),
              std::make_tuple(ndi::fourcc_shq2, 640, interlaced ? 180 : 360));
    EXPECT_TRUE(streamShowsBars(rig, Stream::full));
    // A field's preview may be coded before its engine wrote it (captured a field after the full
    // picture): only a valid picture there; the fields' content is checked on the full stream.
    if (!interlaced) EXPECT_TRUE(streamShowsBars(rig, Stream::preview));
    else EXPECT_TRUE(sim::decodeSpeedHq(preview.payload, preview.fourcc, preview.xres, preview.yres));
    const auto model = rig.camera.encoder().counters();
    EXPECT_EQ(std::make_tuple(model.modelErrors, model.overflows), std::make_tuple(0u, 0u))
        << rig.camera.encoder().lastError();
    EXPECT_GE(model.tableLoads, 1u);
    EXPECT_EQ(rig.sent(Stream::full).corrupted + rig.sent(Stream::preview).corrupted, 0u);
}

INSTANTIATE_TEST_SUITE_P(InputsAndCores, CompressDecode,
                         testing::Combine(testing::Values("1080p59.94", "1080i59.94"), testing::Values(1, 2, 4)));

TEST(CompressScenario, StandardDefinitionPreviewIsACopyOfTheFullPictureWhichFollowsTheSource) {
    Rig rig("none", 2, {.capture = false});
    // A field of 720x288 with a preview that names no buffer of its own.
    auto pair = std::make_shared<video_capture::frame_pair_t>();
    pair->full = rig.picture(720, 288, 0, 4242, 0, 0);
    pair->preview = std::make_shared<video_capture::frame_t>(*pair->full);
    pair->preview->stream = 1;
    pair->preview->block = 528;
    pair->preview->address = video_capture::no_buffer;
    rig.compressor->push(pair);
    ASSERT_TRUE(rig.framesSent(Stream::full, 1) && rig.framesSent(Stream::preview, 1));
    const auto full = rig.sent(Stream::full), preview = rig.sent(Stream::preview);
    EXPECT_EQ(std::make_tuple(full.fourcc, preview.fourcc, full.xres, full.format, preview.format, full.timecode),
              std::make_tuple(ndi::fourcc_SHQ2, ndi::fourcc_shq2, 720, ndi::frame_format::field_0,
                              ndi::frame_format::field_0, int64_t{4242}));  // 720 is already a multiple of 16
    EXPECT_EQ(preview.payload, full.payload);
    // Bar means survive a wrong quality byte or table (the DC is not scaled); the edges, the moving
    // box and the counter do not.
    const auto picture = sim::decodeSpeedHq(full.payload, full.fourcc, full.xres, full.yres);
    ASSERT_TRUE(picture);
    const double psnr = lumaPsnr(*picture, 720, kPictureNumber);
    EXPECT_GT(psnr, 40.0);
    EXPECT_LT(lumaPsnr(*picture, 720, kPictureNumber + 40), psnr - 10);
    auto wrong = full.payload;
    wrong[0] = uint8_t(wrong[0] - 20);
    const auto misread = sim::decodeSpeedHq(wrong, full.fourcc, full.xres, full.yres);
    ASSERT_TRUE(misread);
    EXPECT_LT(lumaPsnr(*misread, 720, kPictureNumber), psnr - 6);
    EXPECT_EQ(rig.camera.encoder().counters().frames, 1u);  // coded once
}

TEST(CompressScenario, CoreOverflowDropsThatFrameOnly) {
    LogCapture log(2);
    Rig rig;
    rig.camera.encoder().inject(sim::EncoderCores::Fault::overflow, 2);
    rig.compressor->push(rig.fullOnly());
    ASSERT_TRUE(waitFor([&] { return rig.camera.encoder().counters().frames == 1; }, 2000ms));
    rig.compressor->push(rig.fullOnly());
    ASSERT_TRUE(rig.framesSent(Stream::full, 1));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(rig.sent(Stream::full).frames, 1u);
    EXPECT_EQ(rig.camera.encoder().counters().overflows, 1u);
    EXPECT_TRUE(decodesToBars(rig.sent(Stream::full)));
}

TEST(CompressScenario, StalledCoreBoundsTheQueueAndStillStops) {
    LogCapture log(2);
    Rig rig;
    rig.camera.encoder().inject(sim::EncoderCores::Fault::stall, 3);
    EXPECT_TRUE(rig.compressor->push(rig.fullOnly()));
    ASSERT_TRUE(waitFor([&] { return rig.camera.encoder().counters().jobs == 3; }, 2000ms));
    bool accepted[5];
    for (bool& a : accepted) a = rig.compressor->push(rig.fullOnly());
    EXPECT_TRUE(accepted[0] && accepted[1]);
    EXPECT_FALSE(accepted[2] || accepted[4]);  // three waiting
    EXPECT_EQ(rig.compressor->drops().capture, 2u);
    const std::string text = log.text();
    EXPECT_EQ(text.substr(text.rfind('\n') + 1), "!!");  // after the start-up messages
    EXPECT_EQ(rig.sent(Stream::full).frames, 0u);
    EXPECT_LT(elapsed([&] { rig.compressor.reset(); }), 600ms);
}

TEST(CompressSenders, StalledSenderLosesItsOldestFramesWithItsMark) {
    struct Case { int stream; uint32_t fourcc; char mark, otherMark; };
    for (const auto& c : {Case{0, ndi::fourcc_SHQ2, '#', '$'}, Case{1, ndi::fourcc_shq2, '$', '#'}}) {
        SCOPED_TRACE(c.mark);
        LogCapture log(2);
        Rig rig(Rig::Sender::tap);
        rig.tap->hold();
        rig.pushOne(c.stream, 1);
        ASSERT_TRUE(waitFor([&] { return rig.tap->waiting() == 1; }));  // the sender is stuck in the send call
        for (int64_t tc = 2; tc <= 7; ++tc) rig.pushOne(c.stream, tc);
        const auto drops = [&] { return c.stream ? rig.compressor->drops().preview : rig.compressor->drops().full; };
        ASSERT_TRUE(waitFor([&] { return drops() == 3; }));
        const std::string all = log.text(), text = all.substr(all.rfind('\n') + 1);  // after the start-up messages
        EXPECT_EQ(marks(text, c.mark), 3u);
        EXPECT_EQ(marks(text, c.otherMark) + marks(text, '@') + marks(text, '!'), 0u);
        rig.tap->release();
        ASSERT_TRUE(waitFor([&] { return rig.sentTimecodes(c.fourcc).size() == 4; }));
        EXPECT_EQ(rig.sentTimecodes(c.fourcc), (std::vector<int64_t>{1, 5, 6, 7}));  // the newest three waited
    }
}

TEST(CompressSenders, ShutdownWithFullSendQueuesCompletesAndDrainsThem) {
    LogCapture log(2);
    Rig rig(Rig::Sender::tap);
    rig.tap->hold();
    for (int64_t tc = 1; tc <= 4; ++tc) rig.pushOne(0, tc);
    for (int64_t tc = 11; tc <= 14; ++tc) rig.pushOne(1, tc);
    ASSERT_TRUE(waitFor([&] { return rig.tap->waiting() == 2; }));  // both senders held, three waiting behind each
    auto stopped = std::async(std::launch::async, [&] { rig.compressor.reset(); });
    EXPECT_EQ(stopped.wait_for(100ms), std::future_status::timeout);  // the held send call blocks the join
    const auto released = std::chrono::steady_clock::now();
    rig.tap->release();
    ASSERT_EQ(stopped.wait_for(2s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - released, 1s);
    // The stop token went in behind the waiting frames without pushing any out.
    EXPECT_EQ(rig.sentTimecodes(ndi::fourcc_SHQ2), (std::vector<int64_t>{1, 2, 3, 4}));
    EXPECT_EQ(rig.sentTimecodes(ndi::fourcc_shq2), (std::vector<int64_t>{11, 12, 13, 14}));
    EXPECT_EQ(marks(log.text(), '#') + marks(log.text(), '$'), 0u);
}
