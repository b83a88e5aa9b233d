// The bus servo model against the servo's protocol and memory map: packets and test vectors,
// step and position modes, end stops, centre calibration, and the line's timing on a real
// pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "motion/sms_sts.h"
#include "sim/motion/servo_line.h"
#include "sim/motion/sms_sts_servo.h"
#include "sim/platform/pseudo_terminal.h"

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
    explicit Servo(int travel = 4000, double speed = 1) : model(SmsStsServo::Config{1, travel, speed}) {}
    Bytes send(const Bytes& p, std::chrono::milliseconds at) { return model.handle(p, t0 + at); }
    Bytes write(const Bytes& params, std::chrono::milliseconds at = 0ms) { return send(packet(1, 3, params), at); }
    SmsStsServo::State state(std::chrono::milliseconds at) { return model.state(t0 + at); }
    SmsStsServo model;
    std::chrono::steady_clock::time_point t0 = std::chrono::steady_clock::now();
};
}  // namespace

TEST(ServoModelPackets, TestVectorsAndAnswerRules) {
    Servo s;
    EXPECT_EQ(s.send({0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB}, 0ms), (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC}));
    // Offset 744 puts the present position (2048 raw) at 1304.
    EXPECT_EQ(s.write({31, 0xE8, 0x02}), (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC}));
    EXPECT_EQ(s.send({0xFF, 0xFF, 0x01, 0x04, 0x02, 0x38, 0x02, 0xBE}, 0ms),
              (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x00, 0x18, 0x05, 0xDD}));
    Bytes corrupt = packet(1, 1, {});
    corrupt.back() ^= 1;
    EXPECT_TRUE(s.send(corrupt, 0ms).empty());             // checksum: ignored
    EXPECT_TRUE(s.send(packet(2, 1, {}), 0ms).empty());    // another servo's ID
    EXPECT_EQ(s.send(packet(0xFE, 1, {}), 0ms).size(), 6u);  // a broadcast ping is answered
    EXPECT_TRUE(s.send(packet(0xFE, 3, {40, 1}), 0ms).empty());
    EXPECT_EQ(s.model.peek(40), 1);                        // ...other broadcasts only executed
    // Level 0: only reads and pings answer.
    EXPECT_EQ(s.write({8, 0}).size(), 6u);
    EXPECT_TRUE(s.write({40, 0}).empty());
    EXPECT_EQ(s.send(packet(1, 2, {40, 1}), 0ms), (Bytes{0xFF, 0xFF, 0x01, 0x03, 0x00, 0x00, 0xFB}));
    // Deferred writes wait for the action.
    EXPECT_TRUE(s.send(packet(1, 4, {48, 0x2C, 0x01}), 0ms).empty());
    EXPECT_EQ(s.state(0ms).torqueLimit, 1000);
    s.send(packet(0xFE, 5, {}), 0ms);
    EXPECT_EQ(s.state(0ms).torqueLimit, 300);
    // Present values are read-only.
    s.write({56, 0, 0});
    EXPECT_EQ(s.state(0ms).position, 1304);
}

TEST(ServoModelMechanics, StepModeRunsIntoTheEndStopAtTheTorqueLimit) {
    Servo s(4000);
    s.write({33, 3});                                           // step mode
    s.write({48, 0xC2, 0x01});                                  // torque limit 450
    s.write({41, 50, 0x10, 0xA7, 0, 0, 0x90, 0x01});            // -10000 steps at 400, acceleration 5000
    const auto moving = s.state(1000ms);
    EXPECT_EQ(moving.speed, -400);
    EXPECT_EQ(moving.moving, 1);
    EXPECT_EQ(moving.load, -sim::SmsStsServo::kFreeLoad);
    EXPECT_NEAR(moving.position, 2048 - 384, 3);                // 80 ms of acceleration cost 16 steps
    const auto stopped = s.state(7000ms);
    EXPECT_EQ(stopped.position, 48);                            // the low end, 2000 below the start
    EXPECT_EQ(stopped.speed, 0);
    EXPECT_EQ(stopped.moving, 0);
    EXPECT_EQ(stopped.load, -450);
    EXPECT_EQ(stopped.target, 2048 - 10000);
    // Torque off: no load, and the present position becomes the centre on 128.
    s.write({40, 0}, 7000ms);
    EXPECT_EQ(s.state(7000ms).load, 0);
    s.write({40, 128}, 7000ms);
    EXPECT_EQ(s.state(7000ms).position, 2048);
    EXPECT_EQ(s.state(7000ms).torqueEnable, 0);
    EXPECT_EQ(s.model.peek(31) | (s.model.peek(32) << 8), 0x0800 | 2000);  // offset -2000, sign in bit 11
    // A goal switches the torque on; 4000 steps later the other end.
    s.write({41, 50, 0x10, 0x27, 0, 0, 0x90, 0x01}, 7000ms);
    const auto far = s.state(20000ms);
    EXPECT_EQ(far.torqueEnable, 1);
    EXPECT_EQ(far.position, 2048 + 4000);
    EXPECT_EQ(far.load, 450);
    EXPECT_EQ(far.speed, 0);
}

TEST(ServoModelMechanics, PositionModeHonoursLimitsAndSpeedFactor) {
    Servo s(4000, 10);  // mechanics ten times faster
    s.write({9, 0, 0, 0x00, 0x08});                             // angle limits 0..2048
    s.write({41, 0, 0x00, 0x0C, 0, 0, 0xE8, 0x03});             // goal 3072 at 1000, full acceleration
    EXPECT_EQ(s.state(0ms).target, 2048);                       // clamped to the maximum angle
    s.write({41, 0, 0x00, 0x04, 0, 0, 0xE8, 0x03});             // goal 1024
    const auto half = s.state(50ms);                            // 0.5 s of servo time
    EXPECT_NEAR(half.position, 2048 - 500, 2);
    EXPECT_EQ(half.speed, -1000);
    const auto there = s.state(200ms);
    EXPECT_EQ(there.position, 1024);
    EXPECT_EQ(there.moving, 0);
    EXPECT_EQ(there.load, 0);
    // A torque limit under what the ring's friction takes: the servo stalls where it is.
    s.write({48, 20, 0}, 200ms);
    s.write({42, 0x00, 0x06}, 200ms);
    const auto stalled = s.state(400ms);
    EXPECT_EQ(stalled.position, 1024);
    EXPECT_EQ(stalled.load, 20);
    // 129: centre here with the torque on.
    s.write({40, 129}, 400ms);
    EXPECT_EQ(s.state(400ms).position, 2048);
    EXPECT_EQ(s.state(400ms).target, 2048);
}

// The application's serial layer against the model over a pseudo-terminal: answers come after
// the bytes' time on the wire, and silence costs exactly the read time-out.
TEST(ServoLineTiming, AnswersAfterTheWireTimeAndTimesOutWhenSilent) {
    sim::PseudoTerminal tty;
    auto servo = std::make_shared<SmsStsServo>(SmsStsServo::Config{1, 4000, 1});
    sim::ServoLine line(tty, servo);
    SMS_STS port;
    ASSERT_TRUE(port.open(115200, tty.slavePath().c_str()));
    EXPECT_EQ(tty.baud(), 115200);
    using clock = std::chrono::steady_clock;
    const auto wire = sim::ServoLine::wireTime(8 + 21, 115200);  // feedback request and answer
    auto start = clock::now();
    EXPECT_EQ(port.readFeedback(1), 15);
    auto took = clock::now() - start;
    EXPECT_GE(took, wire);
    EXPECT_LT(took, wire + 5ms);
    EXPECT_EQ(port.readPosition(-1), 2048);

    line.setSilent(true);
    start = clock::now();
    EXPECT_EQ(port.readPosition(1), -1);
    took = clock::now() - start;
    EXPECT_GE(took, 100ms);
    EXPECT_LT(took, 130ms);
    line.setSilent(false);
    EXPECT_EQ(port.ping(1), 1);

    // At another speed the servo hears noise and answers nothing.
    ASSERT_TRUE(port.open(57600, tty.slavePath().c_str()));
    EXPECT_EQ(port.ping(1), -1);
}
