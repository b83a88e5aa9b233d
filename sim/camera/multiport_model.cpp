#include "sim/camera/multiport_model.h"

#include <poll.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "platform/thread_name.h"

namespace sim {

using Clock = std::chrono::steady_clock;

MultiPortModel::MultiPortModel(PseudoTerminal& port_) : port(port_) {
    thread = std::thread([this] {
        set_thread_name("sim:multiport");
        run();
    });
}

MultiPortModel::~MultiPortModel() { shutdown(); }

void MultiPortModel::shutdown() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (thread.joinable()) thread.join();
}

void MultiPortModel::hangUp() {
    shutdown();
    port.hangUp();
}

bool MultiPortModel::waitFor(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex);
    return !wake.wait_for(lock, duration, [this] { return stopping; });
}

std::vector<std::string> MultiPortModel::frames() {
    std::lock_guard lock(mutex);
    return {kept.begin(), kept.end()};
}

void MultiPortModel::send(const std::string& frame) {
    if (::write(port.master(), frame.data(), frame.size()) < 0) return;  // nobody listening
}

// One frame from the camera: the ping, a key ("#7" k d "0*") or a reply ("&7..00*").
void MultiPortModel::take(const std::string& frame) {
    {
        std::lock_guard lock(mutex);
        kept.push_back(frame);
        if (kept.size() > kKeptFrames) kept.pop_front();
    }
    if (frame == "#tulmo*") {
        send("$tulmo*");
        pinged = true;
        waitFor(std::chrono::milliseconds(50));
        send("%000*");
        return;
    }
    if (frame.size() == 7 && frame.compare(0, 2, "&7") == 0) ++replyCount;
    if (frame.size() != 6 || frame.compare(0, 2, "#7") != 0) return;
    const char key = frame[2];
    if (key == '4' || key == '5' || key == '1') send(std::string("$7") + key + frame[3] + "00*");
}

void MultiPortModel::run() {
    std::string pending;
    auto nextQuery = Clock::now() + kQueryPeriod;
    char chunk[256];
    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (stopping) return;
        }
        if (pinged && Clock::now() >= nextQuery) {
            send("%712*");
            nextQuery = Clock::now() + kQueryPeriod;
        }
        pollfd readable{port.master(), POLLIN, 0};
        if (poll(&readable, 1, 20) <= 0) continue;
        const ssize_t n = ::read(port.master(), chunk, sizeof chunk);
        if (n <= 0) {
            waitFor(std::chrono::milliseconds(20));
            continue;
        }
        if (port.baud() != kBaud) {
            pending.clear();  // at another speed the adapter hears only noise
            continue;
        }
        pending.append(chunk, static_cast<size_t>(n));
        // Frames start with '#' or '&' and end with '*'; anything before a start is noise.
        for (size_t end; (end = pending.find('*')) != std::string::npos;) {
            const size_t start = pending.find_last_of("#&", end);
            if (start != std::string::npos) take(pending.substr(start, end - start + 1));
            pending.erase(0, end + 1);
        }
        if (pending.size() > 64) pending.clear();
    }
}

void MultiPortModel::report(nlohmann::json& state) {
    auto& out = state["multiport"];
    out["present"] = true;
    out["keys"] = frames();
    out["replies"] = replies();
}

}  // namespace sim
