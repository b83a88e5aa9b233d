// The MultiPort adapter on the far end of /dev/ttyS1 (the pseudo-terminal's master side), at
// 9600 baud: answers the ping, sends its detection frame and a query now and then, confirms
// the zoom and record keys with status frames, and keeps the frames it received.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "sim/platform/pseudo_terminal.h"

namespace sim {

class MultiPortModel {
public:
    static constexpr int kBaud = 9600;
    static constexpr size_t kKeptFrames = 16;
    static constexpr auto kQueryPeriod = std::chrono::seconds(2);

    explicit MultiPortModel(PseudoTerminal& port);
    ~MultiPortModel();
    MultiPortModel(const MultiPortModel&) = delete;
    MultiPortModel& operator=(const MultiPortModel&) = delete;

    // The most recent frames received, oldest first.
    std::vector<std::string> frames();
    uint64_t replies() const { return replyCount.load(); }
    // The adapter is pulled out: the line hangs up.
    void hangUp();
    void shutdown();
    void report(nlohmann::json& state);

private:
    void run();
    void take(const std::string& frame);
    void send(const std::string& frame);
    bool waitFor(std::chrono::milliseconds duration);

    PseudoTerminal& port;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::deque<std::string> kept;
    bool pinged = false;
    std::atomic<uint64_t> replyCount{0};
    std::thread thread;
};

}  // namespace sim
