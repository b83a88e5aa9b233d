// The compressor's senders when the NDI side stalls, its shutdown with full queues, and the sent
// picture against the source's own rendering (not just the bar means).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "sim/media/speedhq_decoder.h"
#include "support/log_capture.h"
#include "support/pipeline_rig.h"
#include "support/quiet_settings.h"
#include "support/picture_match.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;
using Stream = sim::NdiStandInSender::Stream;

namespace {
constexpr uint64_t kPictureNumber = 321;

sim::SimSettings quiet(int cores) {
    sim::SimSettings s = quietSettings("none");  // pictures come from the test, not from a capture
    s.encoderCores = cores;
    return s;
}

// The compressor with its NDI sender behind a tap that can hold the send calls.
struct Rig : PipelineRig {
    explicit Rig(int cores = 4) : PipelineRig(quiet(cores), {.sender = Sender::tap, .capture = false}) {}

    // The test picture painted once into the raw window; frames point at it.
    std::shared_ptr<video_capture::frame_t> picture(int width, int height, int stream, int64_t timecode) {
        auto f = paintedFrame(width, height, stream, stream ? 0x1000000u : 0u, kPictureNumber);
        f->rate_n = 60000;
        f->rate_d = 1001;
        f->timecode = timecode;
        return f;
    }
    // One picture of one stream through the cores; waits until the cores have taken it.
    void pushOne(int stream, int64_t timecode) {
        const auto before = camera.encoder().counters().frames;
        auto pair = std::make_shared<video_capture::frame_pair_t>();
        (stream ? pair->preview : pair->full) = picture(640, 360, stream, timecode);
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

size_t marks(const std::string& text, char mark) { return size_t(std::count(text.begin(), text.end(), mark)); }
}  // namespace

TEST(CompressSenders, StalledSenderLosesItsOldestFramesWithItsMark) {
    struct Case { int stream; uint32_t fourcc; char mark, otherMark; };
    for (const auto& c : {Case{0, ndi::fourcc_SHQ2, '#', '$'}, Case{1, ndi::fourcc_shq2, '$', '#'}}) {
        SCOPED_TRACE(c.mark);
        LogCapture log(2);
        Rig rig;
        rig.tap->hold();
        rig.pushOne(c.stream, 1);
        ASSERT_TRUE(waitFor([&] { return rig.tap->waiting() == 1; }));  // the sender is stuck in the send call
        for (int64_t tc = 2; tc <= 7; ++tc) rig.pushOne(c.stream, tc);
        const auto drops = [&] { return rig.compressor->drops(); };
        ASSERT_TRUE(waitFor([&] { return (c.stream ? drops().preview : drops().full) == 3; }));
        std::string text = log.text();
        text = text.substr(text.rfind('\n') + 1);  // the marks, after the threads' start-up messages
        EXPECT_EQ(marks(text, c.mark), 3u);
        EXPECT_EQ(marks(text, c.otherMark) + marks(text, '@') + marks(text, '!'), 0u);
        rig.tap->release();
        ASSERT_TRUE(waitFor([&] { return rig.sentTimecodes(c.fourcc).size() == 4; }));
        EXPECT_EQ(rig.sentTimecodes(c.fourcc), (std::vector<int64_t>{1, 5, 6, 7}));  // the newest three waited
    }
}

TEST(CompressSenders, ShutdownWithFullSendQueuesCompletesAndDrainsThem) {
    LogCapture log(4);
    Rig rig;
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
    const std::string text = log.text();
    EXPECT_EQ(marks(text, '#') + marks(text, '$'), 0u);
    EXPECT_NE(text.find("send_full thread done!\n"), std::string::npos);
    EXPECT_NE(text.find("send_prvw thread done!\n"), std::string::npos);
}

class CompressPicture : public testing::TestWithParam<int> {};

// Bar means survive a wrong quality byte or table (the DC is not scaled); the edges, the moving
// box and the counter do not.
TEST_P(CompressPicture, SentFullPictureFollowsTheSourceRendering) {
    Rig rig(GetParam());
    auto pair = std::make_shared<video_capture::frame_pair_t>();
    pair->full = rig.picture(1920, 1080, 0, 99);
    rig.compressor->push(pair);
    ASSERT_TRUE(waitFor([&] { return rig.camera.ndi().sender()->video(Stream::full).frames == 1; }));
    const auto sent = rig.camera.ndi().sender()->video(Stream::full);
    const auto picture = sim::decodeSpeedHq(sent.payload, sent.fourcc, sent.xres, sent.yres);
    ASSERT_TRUE(picture);
    const double psnr = lumaPsnr(*picture, 1920, kPictureNumber);
    EXPECT_GT(psnr, 40.0);
    EXPECT_LT(lumaPsnr(*picture, 1920, kPictureNumber + 40), psnr - 10);  // the box and counter count
    auto wrong = sent.payload;
    wrong[0] = uint8_t(wrong[0] - 20);
    const auto misread = sim::decodeSpeedHq(wrong, sent.fourcc, sent.xres, sent.yres);
    ASSERT_TRUE(misread);
    EXPECT_LT(lumaPsnr(*misread, 1920, kPictureNumber), psnr - 6);
}

INSTANTIATE_TEST_SUITE_P(Cores, CompressPicture, testing::Values(1, 4));
