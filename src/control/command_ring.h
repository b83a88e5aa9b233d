// The 64-slot ring that carries commands from the front-ends to the queue thread.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <mutex>

#include "control/ptz_command.h"

class CommandRing {
public:
    static constexpr size_t kSlots = 64;
    static constexpr size_t kCapacity = kSlots - 1;  // head == tail means empty

    // Stores the record, dropping the oldest one when the ring is full, and wakes the consumer.
    void push(const PtzCommand& command);

    // Non-blocking: false when the ring is empty.
    bool pop(PtzCommand& command);
    bool peek(PtzCommand& command) const;
    size_t size() const;

    // Waits for a record, then takes the last of the run of equal codes at the
    // front of the ring, so streamed speed updates never pile up.
    PtzCommand takeCoalesced();

private:
    bool emptyLocked() const { return head == tail; }
    size_t sizeLocked() const { return (head + kSlots - tail) % kSlots; }
    PtzCommand popLocked();

    mutable std::mutex mutex;
    std::condition_variable ready;
    std::array<PtzCommand, kSlots> slots{};
    size_t head = 0;  // next slot written
    size_t tail = 0;  // next slot read
};
