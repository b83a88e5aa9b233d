// The command ring: capacity and drop-oldest, run coalescing, the paced queue loop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>
#include <tuple>
#include <vector>

#include "control/command_loop.h"
#include "control/command_ring.h"

using namespace std::chrono_literals;

namespace {
std::vector<int32_t> drainedCodes(CommandRing& ring) {
    std::vector<int32_t> out;
    for (PtzCommand command; ring.pop(command);) out.push_back(command.code);
    return out;
}

std::vector<PtzCommand> takeAll(CommandRing& ring) {
    std::vector<PtzCommand> out;
    while (ring.size() > 0) out.push_back(ring.takeCoalesced());
    return out;
}

std::vector<int32_t> codes(const std::vector<PtzCommand>& commands) {
    std::vector<int32_t> out;
    for (const auto& command : commands) out.push_back(command.code);
    return out;
}
}  // namespace

TEST(CommandRing, HoldsSixtyThreeAndDropsTheOldestForTheNext) {
    CommandRing ring;
    for (int i = 1; i <= 63; ++i) ring.push({i, float(i), 0});
    EXPECT_EQ(ring.size(), 63u);
    ring.push({64, 64, 0});
    EXPECT_EQ(ring.size(), 63u);
    std::vector<int32_t> expected(63);
    std::iota(expected.begin(), expected.end(), 2);
    EXPECT_EQ(drainedCodes(ring), expected);
}

TEST(CommandRing, PeekLeavesTheRecordAndEmptyRingGivesNothing) {
    CommandRing ring;
    PtzCommand command{7, 7, 7};
    EXPECT_FALSE(ring.peek(command));
    EXPECT_FALSE(ring.pop(command));
    EXPECT_EQ(command.code, 7);
    ring.push({VISCA_PTZ_LEFT, 3, 4});
    ASSERT_TRUE(ring.peek(command));
    EXPECT_EQ(std::make_tuple(command.code, ring.size()), std::make_tuple(VISCA_PTZ_LEFT, size_t{1}));
}

TEST(CommandRing, RunsOfEqualCodesCollapseToTheLastRecord) {
    CommandRing ring;
    for (int i = 1; i <= 20; ++i) ring.push({VISCA_PTZ_LEFT, float(i), float(100 + i)});
    const auto taken = takeAll(ring);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_FLOAT_EQ(taken[0].arg1, 20);
    EXPECT_FLOAT_EQ(taken[0].arg2, 120);

    for (int code : {1, 1, 2, 2, 2, 1}) ring.push({code, 0, 0});
    EXPECT_EQ(codes(takeAll(ring)), (std::vector<int32_t>{1, 2, 1}));
}

TEST(CommandRing, TakeWaitsForAProducer) {
    CommandRing ring;
    std::thread producer([&] {
        std::this_thread::sleep_for(20ms);
        ring.push({VISCA_PTZ_HOME, 0, 0});
    });
    EXPECT_EQ(ring.takeCoalesced().code, VISCA_PTZ_HOME);
    producer.join();
}

TEST(CommandLoop, ExecutesCoalescedCommandsAtMostOncePerPaceAndQuits) {
    CommandRing ring;
    std::atomic<bool> stop{false};
    std::vector<PtzCommand> executed;
    std::vector<std::chrono::steady_clock::time_point> times;
    for (int i = 0; i < 10; ++i) ring.push({VISCA_PTZ_RIGHT, float(i), 0});
    ring.push({VISCA_PTZ_STOP, 0, 0});
    ring.push({0, 0, 0});
    ring.push({VISCA_PTZ_UP, 5, 5});
    ring.push({PTZ_QUIT, 0, 0});
    ring.push({VISCA_PTZ_DOWN, 5, 5});  // after the quit: never executed
    runCommandLoop(ring, stop, [&](const PtzCommand& command) {  // returns at the quit
        executed.push_back(command);
        times.push_back(std::chrono::steady_clock::now());
    });
    ASSERT_EQ(codes(executed), (std::vector<int32_t>{VISCA_PTZ_RIGHT, VISCA_PTZ_STOP, 0, VISCA_PTZ_UP}));
    EXPECT_FLOAT_EQ(executed[0].arg1, 9);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], kCommandPace);
    EXPECT_EQ(ring.size(), 1u);
}

TEST(CommandLoop, StopsBetweenCommandsWhenAsked) {
    CommandRing ring;
    std::atomic<bool> stop{false};
    std::atomic<int> executed{0};
    for (int i = 0; i < 20; ++i) ring.push({i % 2 ? VISCA_PTZ_LEFT : VISCA_PTZ_RIGHT, 1, 1});
    std::thread queue([&] { runCommandLoop(ring, stop, [&](const PtzCommand&) { ++executed; }); });
    std::this_thread::sleep_for(50ms);
    stop = true;
    queue.join();
    EXPECT_GE(executed.load(), 1);
    EXPECT_LT(executed.load(), 20);
}

TEST(PtzCommandCodes, PanTiltCodesMapToTheirDirections) {
    const std::pair<int32_t, int> table[] = {
        {VISCA_PTZ_UP, 1},        {VISCA_PTZ_DOWN, 2},          {VISCA_PTZ_LEFT, 3},          {VISCA_PTZ_RIGHT, 4},
        {VISCA_PTZ_DOWNLEFT, 7},  {VISCA_PTZ_DOWNRIGHT, 8},     {VISCA_PTZ_UPLEFT, 5},        {VISCA_PTZ_UPRIGHT, 6},
        {VISCA_PTZ_STOP, 9},      {VISCA_PTZ_HOME, 0},          {VISCA_PTZ_RESET, 255},       {VISCA_PTZ_POSITION, 10},
        {VISCA_PTZ_FREE_UP, 1},   {VISCA_PTZ_FREE_POSITION, 10}, {0x2119, -1},              {0x211A, -1},
        {VISCA_PTZ_ZOOM_STOP, -1}, {PTZ_QUIT, -1},   {0, -1},                      {VISCA_PTZ_FREE_DOWNRIGHT, 8},
    };
    for (const auto& [code, direction] : table) EXPECT_EQ(panTiltDirectionOf(code), direction) << std::hex << code;
    EXPECT_TRUE(isFreeModeCode(VISCA_PTZ_FREE_LEFT));
    EXPECT_TRUE(isFreeModeCode(VISCA_PTZ_FREE_POSITION));
    EXPECT_FALSE(isFreeModeCode(0x2119));
    EXPECT_FALSE(isFreeModeCode(VISCA_PTZ_LEFT));
}
