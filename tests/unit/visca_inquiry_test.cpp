// VISCA inquiries: each kind's answer against the state that produced it, through the receiver.
#include <gtest/gtest.h>

#include <vector>

#include "control/signal_codes.h"
#include "control/visca_framing.h"
#include "control/visca_inquiries.h"
#include "control/visca_inquiry_kind.h"
#include "control/visca_receiver.h"
#include "support/fake_visca_target.h"
#include "support/log_capture.h"

namespace {
using Bytes = std::vector<uint8_t>;

struct FakeInquirySource : InquirySource {
    HeadLimits headLimits() override { return limits; }
    int32_t actualPosition(int motor) override { return motor == ViscaTarget::kPanMotor ? pan : tilt; }
    bool zoomUnknown() override { return unknownZoom; }
    ZoomReading readZoom() override { return zoom; }
    ZoomSettings zoomSettings() override { return settings; }
    int cameraPowerGet() override { return power; }
    CameraWords cameraWords() override { return words; }
    SignalCodes querySignalCodes() override { return ++signalQueries, codes; }

    HeadLimits limits{};
    int32_t pan = 0, tilt = 0;
    bool unknownZoom = false;
    ZoomReading zoom{};
    ZoomSettings settings{};
    int power = 2, signalQueries = 0;
    CameraWords words{};
    SignalCodes codes{};
};

// The answer payload (after the 8-byte header) to an inquiry payload from a source.
class Inquiry : public ::testing::Test {
protected:
    Bytes ask(const Bytes& payload, int source = visca::kSourceNetwork) {
        std::vector<Bytes> sent;
        const auto send = [&](std::span<const uint8_t> d) { sent.emplace_back(d.begin(), d.end()); };
        const Bytes datagram = visca::frame(visca::kTypeInquiry, 7, payload);
        testing::internal::CaptureStdout();
        if (source == visca::kSourceNetwork) receiver.fromNetwork(datagram, send);
        else receiver.fromBridge(datagram, send, send);
        testing::internal::GetCapturedStdout();
        if (sent.size() != 1) return {};
        return Bytes(sent[0].begin() + visca::kHeaderBytes, sent[0].end());
    }
    void SetUp() override {
        receiver.viscaParser().setInquiryAnswer([this](int kind, int) { return inquiries.answer(kind); });
    }

    FakeViscaTarget target;
    FakeInquirySource state;
    ViscaInquiries inquiries{state};
    ViscaReceiver receiver{target};
};

const Bytes kError{0x90, 0x60, 0x02, 0xFF};
// After the header, the control reply that answers a datagram not ending in 0xFF.
const Bytes kControlReplyTail{0x01};
}  // namespace

TEST_F(Inquiry, PanTiltPositionIsTheOffsetFromTheCentreIn256ths) {
    state.limits.pan_center = 1000;
    state.limits.tilt_center = -500;
    const struct {
        int32_t panOffset, tiltOffset;
        Bytes answer;
    } cases[] = {
        {-25600, 0, {0x90, 0x50, 0xF, 0xF, 9, 0xC, 0, 0, 0, 0, 0xFF}},
        {255, 256, {0x90, 0x50, 0, 0, 0, 0, 0, 0, 0, 1, 0xFF}},
    };
    for (const auto& c : cases) {
        state.pan = state.limits.pan_center + c.panOffset;
        state.tilt = state.limits.tilt_center + c.tiltOffset;
        EXPECT_EQ(ask({0x81, 0x09, 0x06, 0x12, 0xFF}), c.answer) << c.panOffset;
    }
}

TEST_F(Inquiry, StateWordsAnswerTheirKinds) {
    state.words = {.focus_mode = 1, .exposure_mode = 1, .wb_mode = 0x103, .tally_on = 1, .pan_reverse = 1,
                   .tilt_reverse = 0, .max_speed_up = 1.3f};
    state.power = 3;
    const struct {
        Bytes inquiry;
        int source;
        Bytes answer;
    } cases[] = {
        {{0x81, 0x09, 0x04, 0x00, 0xFF}, 1, {0x90, 0x50, 0x02, 0xFF}},
        {{0x82, 0x09, 0x04, 0x00, 0xFF}, 2, {0xA0, 0x50, 0x03, 0xFF}},
        {{0x81, 0x09, 0x00, 0x02, 0xFF}, 1, {0x90, 0x50, 0x0E, 0x0E, 0x11, 0x20, 0x00, 0x01, 0x01, 0xFF}},
        {{0x81, 0x09, 0x7E, 0x01, 0x0A, 0xFF}, 1, {0x90, 0x50, 0x02, 0xFF}},
        {{0x81, 0x09, 0x7E, 0x01, 0x06, 0xFF}, 1, {0x90, 0x50, 0x01, 0xFF}},
        {{0x81, 0x09, 0x7E, 0x01, 0x09, 0xFF}, 1, {0x90, 0x50, 0x00, 0xFF}},
        {{0x81, 0x09, 0x06, 0x31, 0xFF}, 1, {0x90, 0x50, 0x03, 0xFF}},
        {{0x81, 0x09, 0x04, 0x35, 0xFF}, 1, {0x90, 0x50, 0x03, 0xFF}},
        {{0x81, 0x09, 0x04, 0x38, 0xFF}, 1, {0x90, 0x50, 0x03, 0xFF}},
        {{0x81, 0x09, 0x04, 0x39, 0xFF}, 1, {0x90, 0x50, 0x00, 0xFF}},
        {{0x81, 0x19, 0x04, 0x50, 0xFF}, 1, {0x90, 0x50, 0x02, 0x00, 0x03, 0x02, 0x03, 0x03, 0x03, 0, 0, 0x03, 0xFF}},
        {{0x81, 0x09, 0x7E, 0x7E, 0x01, 0xFF}, 1, {0x90, 0x50, 0, 0, 0, 0, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF}},
    };
    LogCapture log(5);
    for (const auto& c : cases) EXPECT_EQ(ask(c.inquiry, c.source), c.answer) << int(c.inquiry[3]);
    // The bridge's variant logs the same name as the network's.
    EXPECT_NE(log.text().find("INQUIRY_CAM_PowerInq\nWeb Comm : "), std::string::npos);
    EXPECT_NE(log.text().find("INQUIRY_CAM_PowerInq\nINQUIRY_CAM_VersionInq\n"), std::string::npos);
    state.words = {};
    state.words.tally_on = 0;
    EXPECT_EQ(ask({0x81, 0x09, 0x7E, 0x01, 0x0A, 0xFF}), (Bytes{0x90, 0x50, 0x03, 0xFF}));
    EXPECT_EQ(ask({0x81, 0x09, 0x04, 0x38, 0xFF}), (Bytes{0x90, 0x50, 0x02, 0xFF}));
    EXPECT_EQ(ask({0x81, 0x19, 0x04, 0x50, 0xFF}),
              (Bytes{0x90, 0x50, 0x02, 0x00, 0x00, 0x02, 0x02, 0x03, 0x03, 0, 0, 0x03, 0xFF}));
}

TEST_F(Inquiry, ZoomIsScaledToTheCalibratedRangeAndUnknownWhileUncalibrated) {
    state.zoom = {.raw = 1500, .min = 1000, .max = 3000, .width = 2000};
    EXPECT_EQ(ask({0x81, 0x09, 0x04, 0x47, 0xFF}), (Bytes{0x90, 0x50, 1, 0, 0, 0, 0xFF}));  // 4096
    state.words.focus_mode = 1;
    EXPECT_EQ(ask({0x81, 0x09, 0x7E, 0x7E, 0x00, 0xFF}),
              (Bytes{0x90, 0x50, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0, 0xFF}));
    state.zoom = {.raw = 3000, .min = 1000, .max = 3000, .width = 2000};
    EXPECT_EQ(ask({0x81, 0x09, 0x04, 0x47, 0xFF}), (Bytes{0x90, 0x50, 4, 0, 0, 0, 0xFF}));  // 16384
    state.zoom = {.raw = 65535, .min = 0, .max = 0, .width = 0};  // no servo, never calibrated
    EXPECT_EQ(ask({0x81, 0x09, 0x04, 0x47, 0xFF}), (Bytes{0x90, 0x50, 0xF, 0xF, 0xF, 0xF, 0xFF}));
    state.unknownZoom = true;
    EXPECT_EQ(ask({0x81, 0x09, 0x04, 0x47, 0xFF}), kError);
}

TEST_F(Inquiry, BlockBecCarriesTheZoomSettingsAndFlags) {
    state.settings = {.width = 3976, .torque_limit = 450, .servo_flags = 1, .multiport_mode = 1, .reverse = 1};
    state.words.tilt_reverse = 1;
    // Width 3976 - 100 = 0x0F24, torque 450 = 0x01C2, flags 1 | 1 x 4, reverse 1 | 0x10.
    const Bytes answer{0x90, 0x50, 0x0, 0xF, 0x2, 0x4, 0x0, 0x1, 0xC, 0x2, 0x05, 0x11,
                       0x10, 0,    0,   0,   0,   0,   0,   0,   0,   0xFF};
    EXPECT_EQ(ask({0x81, 0x29, 0x04, 0x50, 0xFF}), answer);
    state.settings = {};
    state.words.tilt_reverse = 0;
    state.words.pan_reverse = 1;
    const Bytes empty{0x90, 0x50, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x20, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF};
    EXPECT_EQ(ask({0x81, 0x29, 0x04, 0x50, 0xFF}), empty);
}

TEST_F(Inquiry, EveryWrongLengthOrEndIsAnsweredWithTheErrorOnly) {
    const Bytes forms[] = {{0x81, 0x09, 0x06, 0x12, 0xFF}, {0x81, 0x09, 0x7E, 0x01, 0x0A, 0xFF},
                           {0x81, 0x29, 0x04, 0x50, 0xFF}, {0x81, 0x09, 0x7E, 0x7E, 0x00, 0xFF}};
    for (const Bytes& form : forms) {
        for (size_t length = 2; length <= form.size() + 2; ++length) {
            Bytes wrong(form.begin(), form.begin() + static_cast<long>(std::min(length, form.size())));
            wrong.resize(length, 0xFF);
            if (wrong == form) continue;
            EXPECT_EQ(ask(wrong), wrong.back() == 0xFF ? kError : kControlReplyTail) << length;
        }
        Bytes badEnd = form;
        badEnd.back() = 0xFE;
        EXPECT_EQ(ask(badEnd), kControlReplyTail);
        badEnd.push_back(0xFF);
        EXPECT_EQ(ask(badEnd), kError);
    }
    EXPECT_EQ(state.signalQueries, 0);
}

TEST_F(Inquiry, SignalInquiriesRefreshTheCodesAndLogThem) {
    state.codes = {0x21, 16};
    LogCapture log(5);
    EXPECT_EQ(ask({0x81, 0x09, 0x06, 0x23, 0xFF}), (Bytes{0x90, 0x50, 0x21, 0xFF}));
    EXPECT_EQ(ask({0x81, 0x09, 0x06, 0x24, 0xFF}), (Bytes{0x90, 0x50, 16, 0xFF}));
    EXPECT_EQ(state.signalQueries, 2);
    EXPECT_NE(log.text().find("hdmi vidState 21, audState 10\nINQUIRY_AudioSystemSETInq\n"), std::string::npos);
}

TEST(SignalCodes, AudioRatesAndUnknownFormats) {
    const struct {
        int rate, code;
    } audio[] = {{32000, 2}, {44100, 4}, {48000, 6}, {96000, 16}, {0, 0}, {88200, 0}};
    for (const auto& a : audio) EXPECT_EQ(audioSystemCode(a.rate), a.code) << a.rate;
    EXPECT_EQ(videoSystemCode(0, 0, 0, 0), 0x36);           // no input (-X)
    EXPECT_EQ(videoSystemCode(1920, 1080, 1, 60), 0x36);    // a frame height marked interlaced
    EXPECT_EQ(videoSystemCode(1920, 540, 1, 29), 0x06);
}
