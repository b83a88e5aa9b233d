#include "control/command_ring.h"

void CommandRing::push(const PtzCommand& command) {
    {
        std::lock_guard lock(mutex);
        if (sizeLocked() == kCapacity) tail = (tail + 1) % kSlots;  // the oldest gives way
        slots[head] = command;
        head = (head + 1) % kSlots;
    }
    ready.notify_one();
}

PtzCommand CommandRing::popLocked() {
    const PtzCommand command = slots[tail];
    tail = (tail + 1) % kSlots;
    return command;
}

bool CommandRing::pop(PtzCommand& command) {
    std::lock_guard lock(mutex);
    if (emptyLocked()) return false;
    command = popLocked();
    return true;
}

bool CommandRing::peek(PtzCommand& command) const {
    std::lock_guard lock(mutex);
    if (emptyLocked()) return false;
    command = slots[tail];
    return true;
}

size_t CommandRing::size() const {
    std::lock_guard lock(mutex);
    return sizeLocked();
}

PtzCommand CommandRing::takeCoalesced() {
    std::unique_lock lock(mutex);
    ready.wait(lock, [this] { return !emptyLocked(); });
    PtzCommand command = popLocked();
    while (!emptyLocked() && slots[tail].code == command.code) command = popLocked();
    return command;
}
