#include "sim/motion/servo_line.h"

#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/thread_name.h"

namespace sim {

using Clock = std::chrono::steady_clock;

ServoLine::ServoLine(PseudoTerminal& port_, std::shared_ptr<SmsStsServo> servo_)
    : port(port_), servo(std::move(servo_)) {
    thread = std::thread([this] {
        set_thread_name("sim:servo");
        // Answers are timed to the wire's microseconds; the default 50 us of timer slack
        // would add to every exchange.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        run();
    });
}

ServoLine::~ServoLine() { shutdown(); }

void ServoLine::shutdown() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (thread.joinable()) thread.join();
}

std::chrono::nanoseconds ServoLine::wireTime(size_t bytes, int baud) {
    if (baud <= 0) return {};
    return std::chrono::nanoseconds(static_cast<int64_t>(bytes) * 10 * 1000000000LL / baud);
}

bool ServoLine::waitUntil(Clock::time_point when) {
    std::unique_lock lock(mutex);
    return !wake.wait_until(lock, when, [this] { return stopping; });
}

void ServoLine::run() {
    std::vector<uint8_t> pending;
    Clock::time_point lineFree{};
    uint8_t chunk[512];
    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (stopping) return;
        }
        pollfd readable{port.master(), POLLIN, 0};
        if (poll(&readable, 1, 20) <= 0) continue;
        const ssize_t n = ::read(port.master(), chunk, sizeof chunk);
        if (n <= 0) {
            if (n < 0 && errno != EAGAIN && errno != EINTR) waitUntil(Clock::now() + std::chrono::milliseconds(20));
            continue;
        }
        const int baud = port.baud();
        // The bytes crossed the wire one after the other, after whatever was on it before.
        lineFree = std::max(lineFree, Clock::now()) + wireTime(static_cast<size_t>(n), baud);
        if (baud != servo->baudRate()) {
            pending.clear();  // at another speed the servo hears only noise
            continue;
        }
        pending.insert(pending.end(), chunk, chunk + n);
        serve(pending, lineFree, baud);
    }
}

// Takes every whole packet off the front of `pending` and answers it.
void ServoLine::serve(std::vector<uint8_t>& pending, Clock::time_point& lineFree, int baud) {
    for (;;) {
        // A packet starts with FF FF followed by an ID other than FF.
        size_t start = 0;
        while (start + 2 < pending.size() &&
               !(pending[start] == 0xFF && pending[start + 1] == 0xFF && pending[start + 2] != 0xFF))
            ++start;
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(start));
        if (pending.size() < 4) return;
        const size_t total = pending[3] + 4u;
        if (pending[3] < 2) {
            pending.erase(pending.begin(), pending.begin() + 2);
            continue;
        }
        if (pending.size() < total) return;
        std::vector<uint8_t> packet(pending.begin(), pending.begin() + static_cast<long>(total));
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(total));
        ++packetCount;
        if (quiet.load()) continue;
        const std::vector<uint8_t> reply = servo->handle(packet, lineFree);
        if (reply.empty()) continue;
        const Clock::time_point due = lineFree + wireTime(reply.size(), baud);
        if (!waitUntil(due)) return;
        const ssize_t written = ::write(port.master(), reply.data(), reply.size());
        if (written > 0) ++answerCount;
        lineFree = due;
    }
}

}  // namespace sim
