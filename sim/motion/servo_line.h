// The serial line between the application and the zoom servo: the master side of the
// pseudo-terminal behind /dev/ttyS1. Frames the instruction packets and sends each answer
// once its bytes, and those of the instruction, would have crossed the wire at the port's
// baud rate. Fault injection: a servo that stops answering.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/motion/sms_sts_servo.h"
#include "sim/platform/pseudo_terminal.h"

namespace sim {

class ServoLine {
public:
    ServoLine(PseudoTerminal& port, std::shared_ptr<SmsStsServo> servo);
    ~ServoLine();
    ServoLine(const ServoLine&) = delete;
    ServoLine& operator=(const ServoLine&) = delete;

    // A silent servo takes every packet and answers none.
    void setSilent(bool silent) { quiet = silent; }
    bool silent() const { return quiet.load(); }
    uint64_t packets() const { return packetCount.load(); }
    uint64_t answers() const { return answerCount.load(); }
    void shutdown();

    // Wire time of n bytes (start bit, 8 data bits, stop bit) at a baud rate.
    static std::chrono::nanoseconds wireTime(size_t bytes, int baud);

private:
    void run();
    void serve(std::vector<uint8_t>& pending, std::chrono::steady_clock::time_point& lineFree, int baud);
    bool waitUntil(std::chrono::steady_clock::time_point when);

    PseudoTerminal& port;
    std::shared_ptr<SmsStsServo> servo;
    std::atomic<bool> quiet{false};
    std::atomic<uint64_t> packetCount{0}, answerCount{0};
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};

}  // namespace sim
