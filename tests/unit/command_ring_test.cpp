// The command ring: capacity and drop-oldest, run coalescing, the paced queue loop, the direction codes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <tuple>
#include <vector>

#include "control/command_loop.h"
#include "control/command_ring.h"

namespace {
std::vector<int32_t> takeAll(CommandRing& ring) {
    std::vector<int32_t> out;
    while (ring.size() > 0) out.push_back(ring.takeCoalesced().code);
    return out;
}
}  // namespace

TEST(CommandRing, HoldsSixtyThreeDropsTheOldestAndPeeksWithoutTaking) {
    CommandRing ring;
    PtzCommand command{7, 7, 7};
    EXPECT_FALSE(ring.peek(command) || ring.pop(command));
    EXPECT_EQ(command.code, 7);
    for (int i = 1; i <= 63; ++i) ring.push({i, float(i), 0});
    EXPECT_EQ(ring.size(), 63u);
    ring.push({64, 64, 0});
    ASSERT_TRUE(ring.peek(command));
    EXPECT_EQ(std::make_tuple(command.code, ring.size()), std::make_tuple(2, size_t{63}));
    std::vector<int32_t> drained, expected(63);
    for (PtzCommand c; ring.pop(c);) drained.push_back(c.code);
    std::iota(expected.begin(), expected.end(), 2);
    EXPECT_EQ(drained, expected);
}

TEST(CommandRing, RunsOfEqualCodesCollapseToTheLastRecord) {
    CommandRing ring;
    for (int i = 1; i <= 20; ++i) ring.push({VISCA_PTZ_LEFT, float(i), float(100 + i)});
    const PtzCommand last = ring.takeCoalesced();
    EXPECT_EQ(std::make_tuple(last.arg1, last.arg2, ring.size()), std::make_tuple(20.0f, 120.0f, size_t{0}));
    for (int code : {1, 1, 2, 2, 2, 1}) ring.push({code, 0, 0});
    EXPECT_EQ(takeAll(ring), (std::vector<int32_t>{1, 2, 1}));
}

TEST(CommandLoop, ExecutesCoalescedCommandsAtMostOncePerPaceAndQuits) {
    CommandRing ring;
    std::atomic<bool> stop{false};
    std::vector<PtzCommand> executed;
    std::vector<std::chrono::steady_clock::time_point> times;
    for (int i = 0; i < 10; ++i) ring.push({VISCA_PTZ_RIGHT, float(i), 0});
    for (const int code : {VISCA_PTZ_STOP, 0, VISCA_PTZ_UP, PTZ_QUIT, VISCA_PTZ_DOWN}) ring.push({code, 5, 5});
    runCommandLoop(ring, stop, [&](const PtzCommand& command) {  // returns at the quit
        executed.push_back(command);
        times.push_back(std::chrono::steady_clock::now());
    });
    std::vector<int32_t> codes;
    for (const auto& c : executed) codes.push_back(c.code);
    ASSERT_EQ(codes, (std::vector<int32_t>{VISCA_PTZ_RIGHT, VISCA_PTZ_STOP, 0, VISCA_PTZ_UP}));
    EXPECT_FLOAT_EQ(executed[0].arg1, 9);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], kCommandPace);
    EXPECT_EQ(ring.size(), 1u);  // the command after the quit is never executed
}

// The edges of the drive range, of the free-mode range, and the codes just outside them.
TEST(PtzCommandCodes, PanTiltCodesMapToTheirDirections) {
    const std::pair<int32_t, int> table[] = {
        {VISCA_PTZ_UP - 1, -1},   {VISCA_PTZ_UP, 1},        {VISCA_PTZ_DOWNRIGHT, 8},      {VISCA_PTZ_UPLEFT, 5},
        {VISCA_PTZ_STOP, 9},      {VISCA_PTZ_HOME, 0},      {VISCA_PTZ_RESET, 255},        {VISCA_PTZ_POSITION, 10},
        {VISCA_PTZ_POSITION + 1, -1}, {VISCA_PTZ_FREE_UP - 1, -1}, {VISCA_PTZ_FREE_UP, 1}, {VISCA_PTZ_FREE_DOWNRIGHT, 8},
        {VISCA_PTZ_FREE_POSITION, 10}, {0x2119, -1},        {0x211A, -1},                  {VISCA_PTZ_FREE_POSITION + 1, -1},
        {VISCA_PTZ_ZOOM_STOP, -1}, {PTZ_QUIT, -1},          {0, -1},
    };
    for (const auto& [code, direction] : table) EXPECT_EQ(panTiltDirectionOf(code), direction) << std::hex << code;
    for (const int32_t code : {VISCA_PTZ_FREE_UP, VISCA_PTZ_FREE_LEFT, VISCA_PTZ_FREE_POSITION})
        EXPECT_TRUE(isFreeModeCode(code)) << std::hex << code;
    for (const int32_t code : {VISCA_PTZ_FREE_UP - 1, 0x2119, VISCA_PTZ_FREE_POSITION + 1, VISCA_PTZ_LEFT})
        EXPECT_FALSE(isFreeModeCode(code)) << std::hex << code;
}
