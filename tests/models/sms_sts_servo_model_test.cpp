// The bus servo model against its protocol: test vectors, answer rules, end-stop load, centre offset.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "sim/motion/sms_sts_servo.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using sim::SmsStsServo;

namespace {
Bytes packet(uint8_t id, uint8_t instruction, const Bytes& params) {
    Bytes p = {0xFF, 0xFF, id, static_cast<uint8_t>(params.size() + 2), instruction};
    for (uint8_t b : params) p.push_back(b);
    unsigned sum = 0;
    for (size_t i = 2; i < p.size(); ++i) sum += p[i];
    p.push_back(static_cast<uint8_t>(~sum));
    return p;
}

struct Servo {
    Bytes send(const Bytes& p, std::chrono::milliseconds at = 0ms) { return model.handle(p, t0 + at); }
    Bytes write(const Bytes& params, std::chrono::milliseconds at = 0ms) { return send(packet(1, 3, params), at); }
    SmsStsServo::State state(std::chrono::milliseconds at) { return model.state(t0 + at); }
    SmsStsServo model{SmsStsServo::Config{1, 4000, 1}};
    std::chrono::steady_clock::time_point t0 = std::chrono::steady_clock::now();
};
}  // namespace

TEST(ServoModelPackets, TestVectorsAndAnswerRules) {
    Servo s;
    EXPECT_EQ(s.send({0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB}), (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC}));
    // Offset 744 puts the present position (2048 raw) at 1304.
    EXPECT_EQ(s.write({31, 0xE8, 0x02}), (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC}));
    EXPECT_EQ(s.send({0xFF, 0xFF, 0x01, 0x04, 0x02, 0x38, 0x02, 0xBE}),
              (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x00, 0x18, 0x05, 0xDD}));
    Bytes corrupt = packet(1, 1, {});
    corrupt.back() ^= 1;
    EXPECT_TRUE(s.send(corrupt).empty());                // checksum: ignored
    EXPECT_TRUE(s.send(packet(2, 1, {})).empty());       // another servo's ID
    EXPECT_EQ(s.send(packet(0xFE, 1, {})).size(), 6u);   // a broadcast ping is answered
    EXPECT_TRUE(s.send(packet(0xFE, 3, {40, 1})).empty());
    EXPECT_EQ(s.model.peek(40), 1);                      // ...other broadcasts only executed
    // Level 0: only reads and pings answer.
    EXPECT_EQ(s.write({8, 0}).size(), 6u);
    EXPECT_TRUE(s.write({40, 0}).empty());
    EXPECT_EQ(s.send(packet(1, 2, {40, 1})), (Bytes{0xFF, 0xFF, 0x01, 0x03, 0x00, 0x00, 0xFB}));
    // Deferred writes wait for the action.
    EXPECT_TRUE(s.send(packet(1, 4, {48, 0x2C, 0x01})).empty());
    EXPECT_EQ(s.state(0ms).torqueLimit, 1000);
    s.send(packet(0xFE, 5, {}));
    EXPECT_EQ(s.state(0ms).torqueLimit, 300);
    // Present values are read-only.
    s.write({56, 0, 0});
    EXPECT_EQ(s.state(0ms).position, 1304);
}

TEST(ServoModelMechanics, StepModeStallsAtTheEndStopWithTheTorqueLimitAsLoadAndCentresWithASignedOffset) {
    Servo s;
    s.write({33, 3});                                 // step mode
    s.write({48, 0xC2, 0x01});                        // torque limit 450
    s.write({41, 50, 0x10, 0xA7, 0, 0, 0x90, 0x01});  // -10000 steps at 400, acceleration 5000
    EXPECT_NEAR(s.state(1000ms).position, 2048 - 384, 3);  // 80 ms of acceleration cost 16 steps
    const auto stopped = s.state(7000ms);
    EXPECT_EQ(stopped.position, 48);  // the low end, 2000 below the start
    EXPECT_EQ(stopped.moving, 0);
    EXPECT_EQ(stopped.load, -450);
    EXPECT_EQ(stopped.target, 2048 - 10000);
    // Torque off, then 128: the present position becomes the centre.
    s.write({40, 0}, 7000ms);
    s.write({40, 128}, 7000ms);
    EXPECT_EQ(s.state(7000ms).position, 2048);
    EXPECT_EQ(s.model.peek(31) | (s.model.peek(32) << 8), 0x0800 | 2000);  // offset -2000, sign in bit 11
}
