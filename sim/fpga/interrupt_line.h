// One FPGA interrupt line as a UIO device presents it: an event count that
// readers wait on, masked after each delivery until the reader unmasks it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

namespace sim {

class InterruptLine {
public:
    // The hardware asserts the line. While masked, the event is held and
    // delivered when the line is unmasked, as a level interrupt would be.
    void raise();
    void unmask();
    void mask();

    // Blocks until the event count differs from `seen` (then updates it and
    // returns the count), the timeout passes or the line is closed (-1).
    int wait(uint32_t& seen, std::optional<std::chrono::milliseconds> timeout);

    uint32_t eventCount() const;
    // Wakes every waiter for good; used when the simulator shuts down.
    void close();

private:
    void deliverLocked();

    mutable std::mutex mutex;
    std::condition_variable changed;
    uint32_t events = 0;
    bool masked = false;
    bool pending = false;
    bool closed = false;
};

}  // namespace sim
