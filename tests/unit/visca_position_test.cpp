// Absolute and relative pan/tilt positions: the homing gate, the targets, the limit margin.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "control/visca_decoder.h"
#include "support/fake_visca_target.h"
#include "support/log_capture.h"

namespace {
using Bytes = std::vector<uint8_t>;

constexpr int32_t kMargin = ViscaDecoder::kPositionMargin;
constexpr int32_t kPanCenter = 0;
constexpr int32_t kTiltCenter = 1000;
// Limits placed so that positions +-100 (pan) and +-50 (tilt) land exactly on the margin.
constexpr HeadLimits kLimits{kPanCenter,
                             kTiltCenter,
                             kPanCenter - kMargin - 100 * 256,
                             kPanCenter + kMargin + 100 * 256,
                             kTiltCenter + kMargin + 50 * 256,
                             kTiltCenter - kMargin - 50 * 256};

Bytes positionPayload(uint8_t kind, uint8_t panSpeed, uint8_t tiltSpeed, int16_t pan, int16_t tilt) {
    Bytes p{0x81, 0x01, 0x06, kind, panSpeed, tiltSpeed};
    for (const int16_t value : {pan, tilt}) {
        const auto bits = static_cast<uint16_t>(value);
        for (int shift = 12; shift >= 0; shift -= 4) p.push_back(static_cast<uint8_t>((bits >> shift) & 0xF));
    }
    p.push_back(0xFF);
    return p;
}

class PositionForms : public ::testing::Test {
protected:
    PositionForms() {
        target.limits = kLimits;
        target.limit_state = 1;
    }
    int decode(const Bytes& payload) { return decoder.decode(payload, 1); }

    FakeViscaTarget target;
    ViscaDecoder decoder{target};
};
}  // namespace

TEST_F(PositionForms, RefusedWithSyntaxErrorUntilTheLimitsAreHomed) {
    for (const int state : {-1, 0, -2, 2}) {
        target.limit_state = state;
        for (const uint8_t kind : {0x02, 0x03, 0x09}) {
            EXPECT_EQ(decode(positionPayload(kind, 5, 5, 1, 1)), ViscaDecoder::kSyntaxError);
        }
    }
    EXPECT_TRUE(target.commands().empty());
    EXPECT_EQ(target.targets_written, 0);
}

TEST_F(PositionForms, SpeedsAboveTheTableRejectZeroSpeedsStopAndFreeModeQueuesItsPosition) {
    EXPECT_EQ(decode(positionPayload(0x02, 0x19, 1, 0, 0)), ViscaDecoder::kRejected);
    EXPECT_EQ(decode(positionPayload(0x02, 1, 0x19, 0, 0)), ViscaDecoder::kRejected);
    EXPECT_TRUE(target.commands().empty());
    EXPECT_EQ(decode(positionPayload(0x02, 0, 0, 30, 30)), ViscaDecoder::kExecuted);
    EXPECT_EQ(decode(positionPayload(0x09, 0, 0, 30, 30)), ViscaDecoder::kExecuted);
    EXPECT_EQ(target.targets_written, 0);
    EXPECT_EQ(decode(positionPayload(0x09, 3, 4, 0, 0)), ViscaDecoder::kExecuted);
    ASSERT_EQ(target.commands().size(), 3u);
    EXPECT_EQ(target.commands()[0].code, VISCA_PTZ_STOP);
    EXPECT_EQ(target.commands()[1].code, VISCA_PTZ_FREE_STOP);
    EXPECT_EQ(target.commands()[2].code, VISCA_PTZ_FREE_POSITION);
}

TEST_F(PositionForms, DestinationsOutsideTheMarginAnswerSyntaxErrorButStillMove) {
    const struct {
        int16_t pan, tilt;
        int result;
    } cases[] = {
        {100, 50, ViscaDecoder::kExecuted},      {-100, -50, ViscaDecoder::kExecuted},
        {101, 0, ViscaDecoder::kSyntaxError},    {-101, 0, ViscaDecoder::kSyntaxError},
        {0, 51, ViscaDecoder::kSyntaxError},     {0, -51, ViscaDecoder::kSyntaxError},
        {32767, 0, ViscaDecoder::kSyntaxError},  {-32768, -32768, ViscaDecoder::kSyntaxError},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decode(positionPayload(0x02, 0x10, 0x08, c.pan, c.tilt)), c.result) << c.pan << "," << c.tilt;
        EXPECT_EQ(target.pan_target, kPanCenter + c.pan * 256);
        EXPECT_EQ(target.tilt_target, kTiltCenter + c.tilt * 256);
    }
    ASSERT_EQ(target.commands().size(), std::size(cases));
    for (const auto& command : target.commands()) {
        EXPECT_EQ(std::make_tuple(command.code, command.arg1, command.arg2), std::make_tuple(VISCA_PTZ_POSITION, 16.f, 8.f));
    }
}

TEST_F(PositionForms, LogsTheTargetsAndTheLimitsWhenOutside) {
    LogCapture log(5);
    decode(positionPayload(0x02, 5, 5, -1, 101));
    EXPECT_EQ(log.text(),
              "ABS : PAN(FFFFFF00, -1) / TILT(6500, 101)\n"
              "Go to ABSOLUTE PAN  Pos -256\n"
              "Go to ABSOLUTE TILT Pos 26856\n"
              "PTZ_LIMIT_OFFSET 8533\n"
              "up_limit    22077\t13544\n"
              "down_limit  -20077\t-11544\n"
              "right_limit 33877\t25344\n"
              "left_limit  -33877\t-25344\n");
}

TEST_F(PositionForms, RelativeLogsItsOwnLines) {
    target.pan_actual = 100;
    target.tilt_actual = 200;
    LogCapture log(5);
    decode(positionPayload(0x03, 5, 5, 1, 1));
    EXPECT_NE(log.text().find("Go to RELATIVE PAN  Pos 356\nGo to RELATIVE TILT Pos 456\n"), std::string::npos);
}
