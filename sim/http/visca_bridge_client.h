// Stands in for the camera's own web server: sends one VISCA payload to the camera's
// local bridge as a datagram and collects the replies, as that server does.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "control/visca_framing.h"

namespace sim {

class ViscaBridgeClient {
public:
    struct Ports {
        uint16_t bridge = visca::kBridgePort;      // where the camera listens
        uint16_t reply = visca::kBridgeReplyPort;  // where the camera answers
    };
    enum class Outcome { answered, noAnswer, replyPortBusy };
    struct Result {
        Outcome outcome = Outcome::noAnswer;
        std::vector<visca::Bytes> replies;  // reply payloads in arrival order (ACK first)
    };

    explicit ViscaBridgeClient(Ports ports, std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));

    // One exchange at a time: the camera answers every request on the same port. Ends at the
    // first Completion, answer or error; `noAnswer` when none comes in time (an ACK alone
    // is not an answer).
    Result exchange(const visca::Bytes& payload);

private:
    Result collectReplies(int fd, uint32_t sequence) const;

    Ports ports;
    std::chrono::milliseconds timeout;
    std::mutex oneAtATime;
    uint32_t nextSequence = 1;
};

}  // namespace sim
