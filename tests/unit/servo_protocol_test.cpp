// The servo packet layer against scripted answers; the zoom scenarios run the common exchanges on the servo model.
#include <gtest/gtest.h>

#include <deque>
#include <numeric>
#include <tuple>
#include <utility>
#include <vector>

#include "motion/sms_sts.h"

namespace {
using Bytes = std::vector<uint8_t>;

// Records what is sent and plays back scripted answers.
struct ScriptedServo : SMS_STS {
    int appendBytes(const uint8_t* buf, int n) override { return pending.insert(pending.end(), buf, buf + n), int(pending.size()); }
    int appendByte(uint8_t b) override { return appendBytes(&b, 1); }
    int readBytes(uint8_t* buf, int n) override {
        int got = 0;
        for (; got < n && !answers.empty(); answers.pop_front()) buf[got++] = answers.front();
        return got;
    }
    void flushInput() override { ++inputFlushes; }
    void flushOutput() override { pending.empty() ? void() : sent.push_back(std::exchange(pending, {})); }
    void answer(const Bytes& bytes) { answers.insert(answers.end(), bytes.begin(), bytes.end()); }
    std::vector<Bytes> sent;
    Bytes pending;
    std::deque<uint8_t> answers;
    int inputFlushes = 0;
};

// A status packet with a correct checksum.
Bytes status(uint8_t id, uint8_t error, const Bytes& data = {}) {
    Bytes p = {0xFF, 0xFF, id, static_cast<uint8_t>(data.size() + 2), error};
    for (uint8_t b : data) p.push_back(b);
    p.push_back(static_cast<uint8_t>(~std::accumulate(p.begin() + 2, p.end(), 0u)));
    return p;
}
}  // namespace

// Sync (broadcast, no answer awaited; -100 with the sign in bit 15), deferred and action packets; broadcast and
// level-zero writes do not wait for an answer; angle limits past 4095 or of one point send nothing.
TEST(ServoPackets, SyncDeferredBroadcastAndLimitWrites) {
    ScriptedServo s;
    const uint8_t ids[2] = {1, 2}, accs[2] = {50, 50};
    const int16_t positions[2] = {100, -100};
    const uint16_t speeds[2] = {400, 400};
    s.syncWritePosEx(ids, 2, positions, speeds, accs);
    for (int i = 0; i < 3; ++i) s.answer(status(1, 0));
    EXPECT_EQ(s.regWritePosEx(1, 5, 10, 0), 1);
    EXPECT_EQ(s.action(1), 1);
    EXPECT_EQ(std::make_pair(s.setAngleLimits(1, 0, 4096), s.setAngleLimits(1, 4095, 4095)), std::make_pair(-1, -1));
    EXPECT_EQ(s.setAngleLimits(1, 0, 4095), 1);
    EXPECT_EQ(s.setTorqueEnable(SCS::kBroadcast, 1), 1);
    s.level = 0;
    EXPECT_EQ(s.setTorqueEnable(1, 1), 1);
    s.level = 1;
    EXPECT_EQ(s.setTorqueEnable(1, 1), 0);  // no answer
    ASSERT_EQ(s.sent.size(), 7u);
    EXPECT_EQ((std::vector<Bytes>(s.sent.begin(), s.sent.begin() + 4)),
              (std::vector<Bytes>{{0xFF, 0xFF, 0xFE, 20, 0x83, 41, 7, 1, 50, 100, 0, 0, 0, 0x90, 1, 2, 50, 0x64, 0x80, 0, 0, 0x90, 1, 0x69},
                                  {0xFF, 0xFF, 0x01, 0x0A, SCS::kDeferredWrite, 0x29, 0x00, 0x05, 0x00, 0x00, 0x00, 0x0A, 0x00, 0xB8},
                                  {0xFF, 0xFF, 0x01, 0x02, 0x05, 0xF7},
                                  {0xFF, 0xFF, 0x01, 0x07, 0x03, 0x09, 0x00, 0x00, 0xFF, 0x0F, 0xDD}}));
    EXPECT_EQ(s.inputFlushes, 7);  // every packet starts with a clean input
}

// Each bad answer to a write: the acknowledgement fails and the error byte stays cleared.
TEST(ServoPackets, AcknowledgementAndPingRules) {
    Bytes badChecksum = status(1, 0), badHeader = status(1, 0);
    badChecksum.back() ^= 1;
    badHeader[1] = 0xFE;
    const std::tuple<Bytes, int, uint8_t> cases[] = {{status(1, 0x20), 1, 0x20}, {badChecksum, 0, 0}, {status(2, 0), 0, 0},
                                                    {status(1, 0, {7}), 0, 0}, {badHeader, 0, 0},
                                                    {Bytes{0xFF, 0xFF, 0x01, 0x02}, 0, 0}, {Bytes{}, 0, 0}};
    for (const auto& [answer, result, error] : cases) {
        ScriptedServo s;
        s.error = 0x55;
        s.answer(answer);
        EXPECT_EQ(s.writeRegister8(1, 40, 1), result) << answer.size();
        EXPECT_EQ(s.error, error) << answer.size();
    }
    ScriptedServo s;
    s.answer(status(1, 0));
    EXPECT_EQ(s.ping(1), 1);
    EXPECT_EQ(s.error, 1);  // the answering ID
    s.answer(status(3, 0));
    EXPECT_EQ(s.ping(SCS::kBroadcast), 3);  // anyone may answer a broadcast ping
    for (const Bytes& wrong : {status(3, 0), badChecksum}) {
        s.answer(wrong);
        EXPECT_EQ(s.ping(1), -1);
    }
}

// 0x8010 is -16 with the sign in bit 15 but 16 as a 12-bit offset; a failed read is -1, not sign-converted.
TEST(ServoPackets, FailedReadsLeaveTheBufferAndReportNoAnswer) {
    Bytes badChecksum = status(1, 0, {0x10, 0x80});
    badChecksum.back() ^= 0xFF;
    const std::pair<Bytes, bool> cases[] = {
        {status(1, 0, {0x10, 0x80}), true},
        {status(9, 0, {0x10, 0x80}), true},  // the answering ID of a register read is not compared
        {badChecksum, false},
        {Bytes{0xFF, 0xFF, 0x01, 0x04, 0x00, 0x10, 0x80}, false},
        {Bytes{}, false},
    };
    for (const auto& [answer, ok] : cases) {
        ScriptedServo s;
        uint8_t buffer[2] = {0xAA, 0xBB};
        s.answer(answer);
        EXPECT_EQ(s.readRegisters(1, 56, buffer, 2), ok ? 2 : 0) << ok;
        if (!ok) {
            EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{0xAA, 0xBB}));
        }
        s.answer(answer);
        EXPECT_EQ(s.readPosition(1), ok ? -16 : -1) << ok;
        EXPECT_EQ(s.noAnswer(), ok ? 0 : 1) << ok;
        s.answer(answer);
        EXPECT_EQ(s.readOffset(1), ok ? 16 : 4095) << ok;
    }
}

// Speed, load and the rest are read by the zoom scenarios; voltage 12.1 V, 35 C and current 300 only here.
TEST(ServoPackets, FeedbackIsReadOnceAndServedFromTheCache) {
    ScriptedServo s;
    s.answer(status(1, 0, {0x10, 0x80, 0x90, 0x01, 0xC2, 0x05, 121, 35, 0, 0, 1, 0xD0, 0x07, 0x2C, 0x01}));
    EXPECT_EQ(s.readFeedback(1), 15);
    EXPECT_EQ((std::vector<int>{s.readVoltage(-1), s.readTemperature(-1), s.readCurrent(-1), s.readLoad(-1)}),
              (std::vector<int>{121, 35, 300, -450}));
    EXPECT_EQ(s.sent.size(), 1u);
}
