// The servo packet layer against scripted answers: packet bytes, checksums, the
// acknowledgement rules, sign-magnitude values and the cached feedback readers.
#include <gtest/gtest.h>

#include <deque>
#include <utility>
#include <vector>

#include "motion/sms_sts.h"

namespace {
using Bytes = std::vector<uint8_t>;

// SMS_STS on a transport that records what is sent and plays back scripted answers.
struct ScriptedServo : SMS_STS {
    int appendBytes(const uint8_t* buf, int n) override {
        pending.insert(pending.end(), buf, buf + n);
        return static_cast<int>(pending.size());
    }
    int appendByte(uint8_t b) override { return appendBytes(&b, 1); }
    int readBytes(uint8_t* buf, int n) override {
        int got = 0;
        for (; got < n && !answers.empty(); answers.pop_front()) buf[got++] = answers.front();
        return got;
    }
    void flushInput() override { ++inputFlushes; }
    void flushOutput() override {
        if (!pending.empty()) sent.push_back(std::exchange(pending, {}));
    }
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
    unsigned sum = 0;
    for (size_t i = 2; i < p.size(); ++i) sum += p[i];
    p.push_back(static_cast<uint8_t>(~sum));
    return p;
}
}  // namespace

TEST(ServoPackets, InstructionBytesAndChecksums) {
    ScriptedServo s;
    for (const Bytes& answer : {status(1, 0), status(1, 0), status(1, 0, {0x18, 0x05}), status(1, 0), status(1, 0)})
        s.answer(answer);
    EXPECT_EQ(s.ping(1), 1);
    EXPECT_EQ(s.WritePosEx(1, -10000, 400, 50), 1);
    EXPECT_EQ(s.readPosition(1), 1304);
    EXPECT_EQ(s.setTorqueLimit(1, 450), 1);
    EXPECT_EQ(s.setOffset(1, -5), 1);
    ASSERT_EQ(s.sent.size(), 5u);
    EXPECT_EQ(s.sent[0], (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB}));
    EXPECT_EQ(s.sent[1], (Bytes{0xFF, 0xFF, 0x01, 0x0A, 0x03, 0x29, 0x32, 0x10, 0xA7, 0x00, 0x00, 0x90, 0x01, 0x4E}));
    EXPECT_EQ(s.sent[2], (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x02, 0x38, 0x02, 0xBE}));
    EXPECT_EQ(s.sent[3], (Bytes{0xFF, 0xFF, 0x01, 0x05, 0x03, 0x30, 0xC2, 0x01, 0x03}));
    // The offset: 12-bit sign-magnitude, sign in bit 11.
    EXPECT_EQ(s.sent[4], (Bytes{0xFF, 0xFF, 0x01, 0x05, 0x03, 0x1F, 0x05, 0x08, 0xCA}));
    EXPECT_EQ(s.inputFlushes, 5);  // every exchange starts with a clean input
}

TEST(ServoPackets, BroadcastAndLevelZeroWritesDoNotWaitForAnAnswer) {
    ScriptedServo s;
    EXPECT_EQ(s.setTorqueEnable(SCS::kBroadcast, 1), 1);
    s.level = 0;
    EXPECT_EQ(s.setTorqueEnable(1, 1), 1);
    s.level = 1;
    EXPECT_EQ(s.setTorqueEnable(1, 1), 0);  // no answer
    EXPECT_EQ(s.sent.size(), 3u);
}

TEST(ServoPackets, SyncWriteAndDeferredWrite) {
    ScriptedServo s;
    const uint8_t ids[2] = {1, 2}, accs[2] = {50, 50};
    const int16_t positions[2] = {100, -100};
    const uint16_t speeds[2] = {400, 400};
    s.syncWritePosEx(ids, 2, positions, speeds, accs);
    ASSERT_EQ(s.sent.size(), 1u);
    const Bytes& p = s.sent[0];
    ASSERT_EQ(p.size(), 24u);
    EXPECT_EQ((Bytes{p.begin(), p.begin() + 8}), (Bytes{0xFF, 0xFF, 0xFE, 20, 0x83, 41, 7, 1}));
    EXPECT_EQ((Bytes{p.begin() + 15, p.begin() + 19}), (Bytes{2, 50, 0x64, 0x80}));  // id, acceleration, -100 with the sign bit
    unsigned sum = 0;
    for (size_t i = 2; i + 1 < p.size(); ++i) sum += p[i];
    EXPECT_EQ(p.back(), static_cast<uint8_t>(~sum));
    s.answer(status(1, 0));
    EXPECT_EQ(s.regWritePosEx(1, 5, 10, 0), 1);
    EXPECT_EQ(s.sent[1][4], SCS::kDeferredWrite);
    s.answer(status(1, 0));
    EXPECT_EQ(s.action(1), 1);
    EXPECT_EQ(s.sent[2], (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x05, 0xF7}));
}

TEST(ServoPackets, AngleLimitsOutOfRangeSendNothing) {
    ScriptedServo s;
    EXPECT_EQ(s.setAngleLimits(1, 0, 4096), -1);
    EXPECT_EQ(s.setAngleLimits(1, 4095, 4095), -1);
    EXPECT_TRUE(s.sent.empty());
    s.answer(status(1, 0));
    EXPECT_EQ(s.setAngleLimits(1, 0, 4095), 1);
    EXPECT_EQ(s.sent[0], (Bytes{0xFF, 0xFF, 0x01, 0x07, 0x03, 0x09, 0x00, 0x00, 0xFF, 0x0F, 0xDD}));
}

// Each bad answer to a write: the acknowledgement fails and the error byte stays cleared.
TEST(ServoPackets, AcknowledgementRules) {
    Bytes badChecksum = status(1, 0);
    badChecksum.back() ^= 1;
    Bytes badHeader = status(1, 0);
    badHeader[1] = 0xFE;
    const struct {
        const char* name;
        Bytes answer;
        int result;
        uint8_t error;
    } cases[] = {
        {"good", status(1, 0x20), 1, 0x20},
        {"wrong checksum", badChecksum, 0, 0},
        {"wrong id", status(2, 0), 0, 0},
        {"wrong length", status(1, 0, {7}), 0, 0},
        {"bad header", badHeader, 0, 0},
        {"too few bytes", Bytes{0xFF, 0xFF, 0x01, 0x02}, 0, 0},
        {"none", Bytes{}, 0, 0},
    };
    for (const auto& c : cases) {
        ScriptedServo s;
        s.error = 0x55;
        s.answer(c.answer);
        EXPECT_EQ(s.writeRegister8(1, 40, 1), c.result) << c.name;
        EXPECT_EQ(s.error, c.error) << c.name;
    }
}

TEST(ServoPackets, PingRules) {
    ScriptedServo s;
    s.answer(status(1, 0));
    EXPECT_EQ(s.ping(1), 1);
    EXPECT_EQ(s.error, 1);  // the answering ID
    s.answer(status(3, 0));
    EXPECT_EQ(s.ping(1), -1);
    s.answer(status(3, 0));
    EXPECT_EQ(s.ping(SCS::kBroadcast), 3);  // anyone may answer a broadcast ping
    EXPECT_EQ(s.ping(1), -1);  // silence
}

TEST(ServoPackets, FailedReadsLeaveTheBufferAndReportNoAnswer) {
    Bytes badChecksum = status(1, 0, {0x10, 0x80});
    badChecksum.back() ^= 0xFF;
    const struct {
        const char* name;
        Bytes answer;
        bool ok;
    } cases[] = {
        {"good", status(1, 0, {0x10, 0x80}), true},
        // The answering ID of a register read is not compared.
        {"other id", status(9, 0, {0x10, 0x80}), true},
        {"wrong checksum", badChecksum, false},
        {"too few bytes", Bytes{0xFF, 0xFF, 0x01, 0x04, 0x00, 0x10, 0x80}, false},
        {"none", Bytes{}, false},
    };
    for (const auto& c : cases) {
        ScriptedServo s;
        uint8_t buffer[2] = {0xAA, 0xBB};
        s.answer(c.answer);
        EXPECT_EQ(s.readRegisters(1, 56, buffer, 2), c.ok ? 2 : 0) << c.name;
        if (!c.ok) {
            EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{0xAA, 0xBB})) << c.name;
        }
        s.answer(c.answer);
        // 0x8010 is -16; a failed read is -1, not sign-converted, and flags the missing answer.
        EXPECT_EQ(s.readPosition(1), c.ok ? -16 : -1) << c.name;
        EXPECT_EQ(s.noAnswer(), c.ok ? 0 : 1) << c.name;
        s.answer(c.answer);
        EXPECT_EQ(s.readOffset(1), c.ok ? 16 : 4095) << c.name;  // 12 bits: bit 15 is not the sign
    }
}

TEST(ServoPackets, ExtraBytesAreLeftForTheNextFlush) {
    ScriptedServo s;
    s.answer(status(1, 0, {0x00, 0x04}));
    s.answer({0x77});
    EXPECT_EQ(s.readPosition(1), 1024);
    EXPECT_EQ(s.answers, std::deque<uint8_t>{0x77});
}

TEST(ServoPackets, SignMagnitudeConversions) {
    const struct {
        int value, bit;
        uint16_t wire;
    } cases[] = {{0, 15, 0x0000}, {-16, 15, 0x8010}, {-1, 10, 0x0401}, {-450, 10, 0x05C2}, {2047, 11, 0x07FF}};
    for (const auto& c : cases) {
        EXPECT_EQ(SMS_STS::toSignMagnitude(c.value, c.bit), c.wire) << c.value;
        EXPECT_EQ(SMS_STS::fromSignMagnitude(c.wire, c.bit), c.value) << c.value;
    }
}

TEST(ServoPackets, FeedbackIsReadOnceAndServedFromTheCache) {
    ScriptedServo s;
    // position -16, speed 400, load -450 (bit 10), 121 (12.1 V), 35 C, status, moving 1,
    // target 2000, current 300.
    s.answer(status(1, 0, {0x10, 0x80, 0x90, 0x01, 0xC2, 0x05, 121, 35, 0, 0, 1, 0xD0, 0x07, 0x2C, 0x01}));
    EXPECT_EQ(s.readFeedback(1), 15);
    EXPECT_EQ(s.sent.back(), (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x02, 0x38, 0x0F, 0xB1}));
    const size_t exchanges = s.sent.size();
    EXPECT_EQ((std::vector<int>{s.readPosition(-1), s.readSpeed(-1), s.readLoad(-1), s.readVoltage(-1),
                                s.readTemperature(-1), s.readMoving(-1), s.readTarget(-1), s.readCurrent(-1)}),
              (std::vector<int>{-16, 400, -450, 121, 35, 1, 2000, 300}));
    EXPECT_EQ(s.sent.size(), exchanges);
    EXPECT_EQ(s.readFeedback(1), -1);  // silence
    EXPECT_EQ(s.noAnswer(), 1);
}

TEST(ServoPackets, CalibrateCenterKeepsTheTorqueState) {
    ScriptedServo s;
    s.answer(status(1, 0, {0x01, 0x32}));  // torque on, acceleration 50
    s.answer(status(1, 0));
    EXPECT_EQ(s.calibrateCenter(1), 1);
    EXPECT_EQ(s.sent[0], (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x02, 0x28, 0x02, 0xCE}));
    EXPECT_EQ(s.sent[1], (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x28, 0x81, 0x4E}));
    EXPECT_EQ(s.calibrateCenter(1), -1);
    EXPECT_EQ(s.noAnswer(), 1);
    EXPECT_EQ(s.sent.size(), 3u);  // no write after a failed read
}
