// The command ring: capacity and drop-oldest, run coalescing, the queue loop's quit, the direction codes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <tuple>
#include <vector>

#include "control/command_loop.h"
#include "control/command_ring.h"

using namespace std::chrono_literals;

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
    std::vector<int32_t> drained;
    for (PtzCommand c; ring.pop(c);) drained.push_back(c.code);
    EXPECT_EQ(std::make_tuple(drained.size(), drained.front(), drained.back()), std::make_tuple(size_t{63}, 2, 64));
}

// A run of one code executes once, with the run's last record, and only a run: a code seen again later
// executes again. The command after a quit is never executed.
TEST(CommandLoop, ExecutesCoalescedCommandsAndQuits) {
    CommandRing ring;
    std::atomic<bool> stop{false};
    std::vector<std::tuple<int32_t, float, float>> executed;
    for (int i = 0; i < 10; ++i) ring.push({VISCA_PTZ_RIGHT, float(i), float(100 + i)});
    for (const int code : {VISCA_PTZ_UP, VISCA_PTZ_UP, VISCA_PTZ_RIGHT, PTZ_QUIT, VISCA_PTZ_DOWN}) ring.push({code, 5, 5});
    runCommandLoop(ring, stop, [&](const PtzCommand& c) { executed.emplace_back(c.code, c.arg1, c.arg2); }, 0ms);
    EXPECT_EQ(executed, (std::vector<std::tuple<int32_t, float, float>>{
                            {VISCA_PTZ_RIGHT, 9, 109}, {VISCA_PTZ_UP, 5, 5}, {VISCA_PTZ_RIGHT, 5, 5}}));
    EXPECT_EQ(ring.size(), 1u);
}

// The edges of the drive range, of the free-mode range, and the codes just outside them.
TEST(PtzCommandCodes, PanTiltCodesMapToTheirDirections) {
    const std::pair<int32_t, int> table[] = {
        {VISCA_PTZ_UP - 1, -1}, {VISCA_PTZ_UP, 1}, {VISCA_PTZ_UPLEFT, 5}, {VISCA_PTZ_STOP, 9}, {VISCA_PTZ_HOME, 0},
        {VISCA_PTZ_RESET, 255}, {VISCA_PTZ_POSITION, 10}, {VISCA_PTZ_POSITION + 1, -1}, {VISCA_PTZ_FREE_UP - 1, -1},
        {VISCA_PTZ_FREE_DOWNRIGHT, 8}, {0x2119, -1}, {VISCA_PTZ_FREE_POSITION, 10}, {VISCA_PTZ_FREE_POSITION + 1, -1}};
    for (const auto& [code, direction] : table) EXPECT_EQ(panTiltDirectionOf(code), direction) << std::hex << code;
    for (const auto& [code, free] : {std::pair{VISCA_PTZ_FREE_UP, true}, {VISCA_PTZ_FREE_STOP, true}, {VISCA_PTZ_FREE_POSITION, true},
                                     {VISCA_PTZ_FREE_UP - 1, false}, {0x2119, false}, {0x211C, false}})
        EXPECT_EQ(isFreeModeCode(code), free) << std::hex << code;
}
