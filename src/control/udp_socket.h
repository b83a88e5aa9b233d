// An owned IPv4 datagram socket, opened the ways the VISCA and discovery ports need.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <span>
#include <string>

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket() { close(); }
    UdpSocket(UdpSocket&& other) noexcept : fd(other.fd) { other.fd = -1; }
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Bound to INADDR_ANY:port when `bind` (else unbound), broadcast on, bound to the
    // device (none when empty). Throws std::runtime_error with the system's messages.
    static UdpSocket openUdp(uint16_t port, bool bind, const std::string& device);
    // Bound to 127.0.0.1:port and to device "lo".
    static UdpSocket openLoopback(uint16_t port);

    int descriptor() const { return fd; }
    bool isOpen() const { return fd >= 0; }
    void close();

    // One datagram, truncated to the buffer; -1 when none is waiting.
    ssize_t receive(std::span<uint8_t> buffer, sockaddr_in& sender) const;
    bool sendTo(std::span<const uint8_t> datagram, const sockaddr_in& to) const;

private:
    explicit UdpSocket(int descriptor) : fd(descriptor) {}
    int fd = -1;
};

sockaddr_in ipv4Address(uint32_t hostOrderAddress, uint16_t port);
