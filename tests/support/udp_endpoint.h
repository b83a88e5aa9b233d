// A UDP socket bound to an address and port, sending datagrams and receiving them with a time limit.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// An IPv4 socket address from host-order parts.
sockaddr_in inetAddress(uint32_t hostOrderAddress, uint16_t port);

class UdpEndpoint {
public:
    using Bytes = std::vector<uint8_t>;
    // Broadcast is allowed: discovery enquiries go to a broadcast address.
    explicit UdpEndpoint(uint16_t port, uint32_t hostOrderAddress = INADDR_LOOPBACK);
    ~UdpEndpoint();
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    bool bound() const { return isBound; }
    void sendTo(uint16_t port, const Bytes& datagram, const std::string& ip = "127.0.0.1") const;
    std::optional<Bytes> receive(std::chrono::milliseconds timeout = std::chrono::seconds(2)) const;
    // Sends the next datagram back where it came from; false when none came in time.
    bool echoOne(std::chrono::milliseconds timeout, int copies = 1) const;

private:
    bool readable(std::chrono::milliseconds timeout) const;

    int fd = -1;
    bool isBound = false;
};

