// The VISCA command decoder over its forms: lengths, terminators, ranges, the records it queues,
// and the pan/tilt positions with their homing gate and limit margin.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "control/visca_decoder.h"
#include "support/fake_visca_target.h"
#include "support/hex_bytes.h"
#include "support/log_capture.h"

namespace {
using Bytes = std::vector<uint8_t>;

struct Q {
    int32_t code;
    float arg1 = 0, arg2 = 0;
};

constexpr int OK = ViscaDecoder::kExecuted;
constexpr int NO = ViscaDecoder::kRejected;
constexpr int SE = ViscaDecoder::kSyntaxError;
const std::optional<Q> kNothing;  // nothing at all goes into the ring
const Q kIgnored{0};              // the no-op record the queue consumes without effect

// Each form between its address byte 81 and its terminator FF.
const struct {
    const char* body;
    int result;
    std::optional<Q> queued;
} kForms[] = {
    {"01 06 01 05 07 03 01", OK, Q{VISCA_PTZ_UP, 5, 7}}, {"01 06 01 05 07 03 02", OK, Q{VISCA_PTZ_DOWN, 5, 7}},
    {"01 06 01 0A 01 01 03", OK, Q{VISCA_PTZ_LEFT, 10, 1}}, {"01 06 01 18 18 02 03", OK, Q{VISCA_PTZ_RIGHT, 24, 24}},
    {"01 06 01 01 02 01 01", OK, Q{VISCA_PTZ_UPLEFT, 1, 2}},
    {"01 06 01 01 02 02 01", OK, Q{VISCA_PTZ_UPRIGHT, 1, 2}},
    {"01 06 01 01 02 01 02", OK, Q{VISCA_PTZ_DOWNLEFT, 1, 2}},
    {"01 06 01 01 02 02 02", OK, Q{VISCA_PTZ_DOWNRIGHT, 1, 2}},
    {"01 06 01 05 07 03 03", OK, Q{VISCA_PTZ_STOP, 0, 0}}, {"01 06 01 00 00 01 03", OK, Q{VISCA_PTZ_STOP}},
    {"01 06 01 19 10 01 03", NO, kNothing}, {"01 06 01 10 19 01 03", NO, kNothing},
    {"01 06 01 01 01 04 04", NO, kIgnored}, {"01 06 09 0A 0B 01 03", OK, Q{VISCA_PTZ_FREE_LEFT, 10, 11}},
    {"01 06 09 0A 0B 03 03", OK, Q{VISCA_PTZ_FREE_STOP}}, {"01 06 09 19 0B 03 03", NO, kNothing},
    // Positions (absolute 02, relative 03, free 09); with unset limits every destination is outside.
    {"01 06 02 18 01 00 00 00 00 00 00 00 00", SE, Q{VISCA_PTZ_POSITION, 24, 1}},
    {"01 06 03 01 18 00 00 00 00 00 00 00 00", SE, Q{VISCA_PTZ_POSITION, 1, 24}},
    {"01 06 09 03 04 00 00 00 00 00 00 00 00", SE, Q{VISCA_PTZ_FREE_POSITION, 3, 4}},
    {"01 06 02 00 00 00 00 00 01 00 00 00 01", OK, Q{VISCA_PTZ_STOP}},
    {"01 06 09 00 00 00 00 00 01 00 00 00 01", OK, Q{VISCA_PTZ_FREE_STOP}},
    {"01 06 02 19 01 00 00 00 00 00 00 00 00", NO, kNothing}, {"01 06 09 01 19 00 00 00 00 00 00 00 00", NO, kNothing},
    {"01 06 04", OK, Q{VISCA_PTZ_HOME}}, {"01 06 05", OK, Q{VISCA_PTZ_RESET}},
    {"01 06 06 02", OK, Q{VISCA_PTZ_MENU}}, {"01 06 06 10", OK, Q{VISCA_PTZ_MENU_TOGGLE}},
    {"01 06 06 05", NO, kIgnored}, {"01 06 31 07", OK, Q{VISCA_PTZ_RAMP_CURVE, 7}}, {"01 06 31 08", NO, kNothing},
    {"01 04 00 02", OK, Q{VISCA_PTZ_POWER, 2}}, {"01 04 00 03", OK, Q{VISCA_PTZ_POWER, 3}},
    {"01 04 00 04", NO, kNothing}, {"01 04 07 00", OK, Q{VISCA_PTZ_ZOOM_STOP}},
    {"01 04 07 02", OK, Q{VISCA_PTZ_ZOOM_TELE, 4}}, {"01 04 07 03", OK, Q{VISCA_PTZ_ZOOM_WIDE, 4}},
    {"01 04 07 25", OK, Q{VISCA_PTZ_ZOOM_TELE, 5}}, {"01 04 07 37", OK, Q{VISCA_PTZ_ZOOM_WIDE, 7}},
    {"01 04 07 28", NO, kNothing}, {"01 04 07 45", NO, kIgnored},
    {"01 04 47 04 00 00 00", OK, Q{VISCA_PTZ_ZOOM_ABSOLUTE_POS, 16384, 0}}, {"01 04 47 04 00 00 01", NO, kNothing},
    {"01 04 47 0F 0F 0F 0F", NO, kNothing}, {"01 04 47 30 31 32 33", OK, Q{VISCA_PTZ_ZOOM_ABSOLUTE_POS, 0x0123, 0}},
    {"01 04 35 00", OK, Q{VISCA_PTZ_WB_AUTO, 0}}, {"01 04 35 01", OK, Q{VISCA_PTZ_WB_INDOOR, 1}},
    {"01 04 35 02", OK, Q{VISCA_PTZ_WB_OUTDOOR, 2}}, {"01 04 35 03", OK, Q{VISCA_PTZ_WB_ONE_PUSH, 3}},
    {"01 04 35 04", OK, Q{VISCA_PTZ_WB_MANUAL, 4}}, {"01 04 35 05", OK, Q{VISCA_PTZ_WB_MANUAL, 5}},
    {"01 04 35 06", NO, kNothing}, {"01 04 38 02", OK, Q{VISCA_PTZ_FOCUS_AUTO}},
    {"01 04 38 10", OK, Q{VISCA_PTZ_FOCUS_AUTO}}, {"01 04 38 03", OK, Q{VISCA_PTZ_FOCUS_MANUAL}},
    {"01 04 38 04", NO, kIgnored}, {"01 04 08 00", OK, Q{VISCA_PTZ_FOCUS, 0, 0}},
    {"01 04 08 02", OK, Q{VISCA_PTZ_FOCUS, 32, 32}}, {"01 04 08 03", OK, Q{VISCA_PTZ_FOCUS, 48, 48}},
    {"01 04 08 25", OK, Q{VISCA_PTZ_FOCUS_VARIABLE, 5, 0x25}},
    {"01 04 08 37", OK, Q{VISCA_PTZ_FOCUS_VARIABLE, 7, 0x37}}, {"01 04 08 38", NO, kNothing},
    {"01 04 48 01 02 03 0F", OK, kIgnored}, {"01 04 48 01 02 10 0F", NO, kIgnored},
    {"01 04 39 00", OK, Q{VISCA_PTZ_AE_AUTO}}, {"01 04 39 03", OK, Q{VISCA_PTZ_IRIS, 0, 0}},
    {"01 04 39 0A", OK, kIgnored}, {"01 04 33 02", OK, kIgnored}, {"01 04 0B 00", OK, Q{VISCA_PTZ_AE_AUTO}},
    {"01 04 0B 02", OK, Q{VISCA_PTZ_IRIS, 83, 83}}, {"01 04 0B 03", OK, Q{VISCA_PTZ_IRIS, 85, 85}},
    {"01 04 4B 00 00 01 02", OK, Q{VISCA_PTZ_IRIS, 322, 0x12}}, {"01 04 4B 01 00 01 02", NO, kIgnored},
    {"01 04 3F 00 05", OK, Q{VISCA_PTZ_MEMORY_RESET, 5}}, {"01 04 3F 01 09", OK, Q{VISCA_PTZ_MEMORY_SET, 9}},
    {"01 04 3F 01 0A", NO, kNothing}, {"01 04 3F 02 0A", NO, kNothing},
    {"01 04 3F 22 7F", OK, Q{VISCA_PTZ_RECORD_2, 2}}, {"01 04 3F 23 7F", OK, Q{VISCA_PTZ_RECORD_3, 3}},
    {"01 04 3F 24 7F", OK, Q{VISCA_PTZ_KEY30_4, 4}}, {"01 04 3F 25 7F", OK, Q{VISCA_PTZ_KEY30_5, 5}},
    {"01 04 3F 26 7F", NO, kNothing}, {"01 7E 01 0A 00 02", OK, Q{VISCA_PTZ_TALLY, 1}},
    {"01 7E 01 0A 00 03", OK, Q{VISCA_PTZ_TALLY, 0}}, {"01 7E 01 0A 00 04", NO, kNothing},
    {"01 7E 01 02 00 01", OK, Q{VISCA_PTZ_KEY_A2}}, {"01 7E 01 02 30 02", OK, Q{VISCA_PTZ_KEY_84}},
    {"01 7E 01 02 30 03", OK, Q{VISCA_PTZ_KEY_86}}, {"01 7E 01 02 30 04", OK, Q{VISCA_PTZ_KEY_C4}},
    {"01 7E 01 02 30 05", OK, Q{VISCA_PTZ_KEY_C2}}, {"01 7E 01 06 00 01", OK, Q{VISCA_PTZ_PAN_REVERSE, 1}},
    {"01 7E 01 06 00 00", OK, Q{VISCA_PTZ_PAN_REVERSE, 0}}, {"01 7E 01 06 00 02", NO, kNothing},
    {"01 7E 01 09 00 01", OK, Q{VISCA_PTZ_TILT_REVERSE, 1}}, {"01 7E 01 0B 0A 10", NO, kNothing},
    {"01 7E 01 0B 03 19", NO, kNothing}, {"11 04 07 41", OK, Q{VISCA_PTZ_ZOOM_DIRECTION, 1}},
    {"11 04 07 42", NO, kNothing}, {"11 04 47 15 00 03 0E 08", OK, Q{VISCA_PTZ_ZOOM_TORQUE, 1000, 0}},
    {"11 04 47 10 00 03 0E 09", NO, kNothing}, {"11 04 47 10 0F 0F 0F 0F", NO, kNothing},
    {"11 04 47 23 04 00 00 00", OK, Q{VISCA_PTZ_ZOOM_ABSOLUTE_POS, 16384, 3}},
    {"11 04 47 28 00 00 00 00", NO, kNothing}, {"11 04 47 20 04 00 00 01", NO, kNothing},
    {"11 04 47 37 0F 0F 0F 0F", OK, Q{VISCA_PTZ_ZOOM_RELATIVE_POS, -1, 7}},
    {"11 04 47 38 00 00 00 01", NO, kNothing}, {"11 04 47 40 00 00 00 01", NO, kIgnored}, {"01 05 00", NO, kIgnored},
    {"21 06 04", NO, kIgnored}, {"01 06", NO, kIgnored},
    // A zoom restart that finds neither servo nor adapter (the camera scenario finds the adapter).
    {"11 06 05", NO, kIgnored},
};

void expectQueued(FakeViscaTarget& target, const std::optional<Q>& expected) {
    const auto commands = target.commands();
    ASSERT_EQ(commands.size(), expected ? 1u : 0u);
    if (expected) {
        EXPECT_EQ(std::tie(commands[0].code, commands[0].arg1, commands[0].arg2),
                  std::tie(expected->code, expected->arg1, expected->arg2));
    }
}

Bytes command(const std::string& body) { return hexBytes("81 " + body + " FF"); }

// An absolute position command: pan and tilt as four signed nibbles each.
Bytes position(uint8_t speed, int16_t pan, int16_t tilt) {
    Bytes p{0x81, 0x01, 0x06, 0x02, speed, speed};
    for (const auto bits : {uint16_t(pan), uint16_t(tilt)})
        for (int shift = 12; shift >= 0; shift -= 4) p.push_back(static_cast<uint8_t>(bits >> shift & 0xF));
    p.push_back(0xFF);
    return p;
}
}  // namespace

// Each form decodes the same from the network (81, source 1) and the bridge (82, source 2); another
// address or source, or a variant one byte longer, shorter or unterminated, never queues a real command.
TEST(DecoderForms, DecodeAndQueueOnlyWhenWhole) {
    for (const auto& form : kForms) {
        SCOPED_TRACE(form.body);
        const Bytes good = command(form.body);
        const auto at = [&](int address) { Bytes p = good; p[0] = static_cast<uint8_t>(address); return p; };
        for (const auto& [address, source] : {std::pair{0x81, 1}, {0x82, 2}}) {
            FakeViscaTarget target;
            EXPECT_EQ(ViscaDecoder(target).decode(at(address), source), form.result);
            expectQueued(target, form.queued);
        }
        FakeViscaTarget target;
        ViscaDecoder decoder(target);
        for (const int address : {0x80, 0x82, 0x88, 0x01}) EXPECT_EQ(decoder.decode(at(address), 1), NO) << address;
        EXPECT_EQ(std::make_pair(decoder.decode(good, 0), decoder.decode(good, 8)), std::make_pair(NO, NO));
        EXPECT_TRUE(target.commands().empty());
        Bytes longer = good, shorter = good, unterminated = good;
        longer.insert(longer.end() - 1, 0x00);
        shorter.erase(shorter.end() - 2);
        unterminated.back() = 0xFE;
        for (const Bytes& bad : {longer, shorter, unterminated, Bytes(good.begin(), good.end() - 1)}) {
            FakeViscaTarget target;
            EXPECT_EQ(ViscaDecoder(target).decode(bad, 1), NO);
            for (const auto& queued : target.commands()) EXPECT_EQ(queued.code, 0);
        }
    }
}

TEST(ViscaDecoder, PresetSpeedsAreSetRecalledAndDefaultToTheFastest) {
    FakeViscaTarget target;
    ViscaDecoder decoder(target);
    target.preset_speeds = {0, 10, 24, 25, 0xFF, 0, 0, 0, 0, 0};
    for (const auto& [preset, speed] : {std::pair{0, 24.f}, {1, 10.f}, {2, 24.f}, {3, 24.f}, {4, 24.f}}) {
        EXPECT_EQ(decoder.decode(command("01 04 3F 02 0" + std::to_string(preset)), 1), OK);
        const PtzCommand r = target.commands().back();
        EXPECT_EQ(std::tie(r.code, r.arg1, r.arg2), std::make_tuple(VISCA_PTZ_MEMORY_RECALL, float(preset), speed));
    }
    EXPECT_EQ(decoder.decode(command("01 7E 01 0B 09 18"), 1), OK);
    EXPECT_EQ(target.preset_speeds[9], 0x18);
    EXPECT_EQ(target.preset_speeds[5], 0);
    EXPECT_EQ(decoder.decode(command("11 04 08 55"), 1), OK);
    for (const uint8_t speed : target.preset_speeds) EXPECT_EQ(speed, 0x18);
}

// Limits placed so that positions +-100 (pan) and +-50 (tilt) land exactly on the margin; the end-
// to-end suite checks the targets (from the centre, or from the head for relative ones).
TEST(ViscaPosition, RefusedUntilHomedAndOutsideTheMarginAnsweredAsSyntaxErrorsThatStillMove) {
    constexpr int32_t m = ViscaDecoder::kPositionMargin, t = 1000;  // t: the tilt centre
    FakeViscaTarget target;
    target.limits = {0, t, -m - 100 * 256, m + 100 * 256, t + m + 50 * 256, t - m - 50 * 256};
    ViscaDecoder decoder(target);
    const struct {
        int state;
        int16_t pan, tilt;
        int result;
    } cases[] = {{0, 1, 1, SE},   {2, 1, 1, SE},    {1, 100, 50, OK}, {1, -100, -50, OK}, {1, 101, 0, SE},
                 {1, -101, 0, SE}, {1, 0, 51, SE},  {1, 0, -51, SE},  {1, -32768, 32767, SE}};
    for (const auto& c : cases) {
        target.limit_state = c.state;
        EXPECT_EQ(decoder.decode(position(1, c.pan, c.tilt), 1), c.result) << c.state << ":" << c.pan << "," << c.tilt;
    }
    EXPECT_EQ(target.commands().size(), std::size(cases) - 2) << "refused before homing, still moved outside";
    LogCapture log(5);
    decoder.decode(position(5, -1, 51), 1);
    EXPECT_EQ(log.text(), "ABS : PAN(FFFFFF00, -1) / TILT(3300, 51)\nGo to ABSOLUTE PAN  Pos -256\n"
                          "Go to ABSOLUTE TILT Pos 14056\nPTZ_LIMIT_OFFSET 8533\nup_limit    22077\t13544\n"
                          "down_limit  -20077\t-11544\nright_limit 33877\t25344\nleft_limit  -33877\t-25344\n");
}
