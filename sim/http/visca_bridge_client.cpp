#include "sim/http/visca_bridge_client.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {
sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// The reply port, bound for the length of one exchange; -1 when another program holds it.
int bindReplyPort(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const sockaddr_in local = loopback(port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool isInquiry(const visca::Bytes& payload) { return payload.size() > 1 && payload[1] == 0x09; }

// Completion (y5), answer (y5) and error (y6) end an exchange; ACK (y4) does not.
bool isFinal(const visca::Bytes& reply) {
    const uint8_t kind = reply.size() > 1 ? reply[1] & 0xF0 : 0;
    return kind == 0x50 || kind == 0x60;
}
}  // namespace

ViscaBridgeClient::ViscaBridgeClient(Ports ports_, std::chrono::milliseconds timeout_)
    : ports(ports_), timeout(timeout_) {}

ViscaBridgeClient::Result ViscaBridgeClient::exchange(const visca::Bytes& payload) {
    std::lock_guard lock(oneAtATime);
    const int fd = bindReplyPort(ports.reply);
    if (fd < 0) return {Outcome::replyPortBusy, {}};
    const uint32_t sequence = nextSequence++;
    const auto datagram =
        visca::frame(isInquiry(payload) ? visca::kTypeInquiry : visca::kTypeCommand, sequence, payload);
    const sockaddr_in camera = loopback(ports.bridge);
    Result result;
    if (sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&camera),
               sizeof camera) == static_cast<ssize_t>(datagram.size()))
        result = collectReplies(fd, sequence);
    close(fd);
    return result;
}

ViscaBridgeClient::Result ViscaBridgeClient::collectReplies(int fd, uint32_t sequence) const {
    Result result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd readable{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) return result;
        uint8_t buffer[visca::kMaxDatagram];
        const ssize_t length = recv(fd, buffer, sizeof buffer, 0);
        if (length <= static_cast<ssize_t>(visca::kHeaderBytes)) continue;
        const std::span<const uint8_t> datagram(buffer, static_cast<size_t>(length));
        // A late reply to an exchange that timed out is not ours.
        if (visca::payloadType(datagram) != visca::kTypeReply || visca::sequenceNumber(datagram) != sequence)
            continue;
        result.replies.emplace_back(datagram.begin() + visca::kHeaderBytes, datagram.end());
        if (isFinal(result.replies.back())) {
            result.outcome = Outcome::answered;
            return result;
        }
    }
}

}  // namespace sim
