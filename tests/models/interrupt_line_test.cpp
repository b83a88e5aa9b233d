// The interrupt line behaves as a UIO interrupt: counted, masked after delivery, held while masked.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sim/fpga/interrupt_line.h"

using namespace std::chrono_literals;

TEST(InterruptLine, DeliversThenMasksUntilUnmasked) {
    sim::InterruptLine line;
    uint32_t seen = 0;
    line.raise();
    EXPECT_EQ(line.wait(seen, 10ms), 1);
    line.raise();  // masked by the delivery: held, not counted
    EXPECT_LT(line.wait(seen, 10ms), 0);
    EXPECT_EQ(line.eventCount(), 1u);
    line.unmask();  // the held event arrives now
    EXPECT_EQ(line.wait(seen, 10ms), 2);
}

TEST(InterruptLine, EventsWhileMaskedCollapseIntoOne) {
    sim::InterruptLine line;
    uint32_t seen = 0;
    line.mask();
    for (int i = 0; i < 5; ++i) line.raise();
    line.unmask();
    EXPECT_EQ(line.wait(seen, 10ms), 1);
    line.unmask();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_LT(line.wait(seen, 30ms), 0);  // no event: the time-out, in full
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(InterruptLine, WakesABlockedWaiterAndClosesForGood) {
    sim::InterruptLine line;
    int result = 0;
    std::thread waiter([&] {
        uint32_t seen = 0;
        result = line.wait(seen, std::nullopt);
    });
    std::this_thread::sleep_for(20ms);
    line.raise();
    waiter.join();
    EXPECT_EQ(result, 1);

    std::thread forever([&] {
        uint32_t seen = line.eventCount();
        result = line.wait(seen, std::nullopt);
    });
    std::this_thread::sleep_for(20ms);
    line.close();
    forever.join();
    EXPECT_LT(result, 0);
}
