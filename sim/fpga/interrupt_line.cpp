#include "sim/fpga/interrupt_line.h"

namespace sim {

void InterruptLine::deliverLocked() {
    ++events;
    masked = true;  // the kernel's generic UIO handler disables the line until re-enabled
    pending = false;
    changed.notify_all();
}

void InterruptLine::raise() {
    std::lock_guard lock(mutex);
    if (masked)
        pending = true;
    else
        deliverLocked();
}

void InterruptLine::unmask() {
    std::lock_guard lock(mutex);
    masked = false;
    if (pending) deliverLocked();
}

void InterruptLine::mask() {
    std::lock_guard lock(mutex);
    masked = true;
}

int InterruptLine::wait(uint32_t& seen, std::optional<std::chrono::milliseconds> timeout) {
    std::unique_lock lock(mutex);
    auto ready = [&] { return closed || events != seen; };
    if (timeout) {
        if (!changed.wait_for(lock, *timeout, ready)) return -1;
    } else {
        changed.wait(lock, ready);
    }
    if (events == seen) return -1;  // closed
    seen = events;
    return static_cast<int>(events & 0x7fffffff);
}

uint32_t InterruptLine::eventCount() const {
    std::lock_guard lock(mutex);
    return events;
}

void InterruptLine::close() {
    std::lock_guard lock(mutex);
    closed = true;
    changed.notify_all();
}

}  // namespace sim
