#include "support/udp_endpoint.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr size_t kLargestDatagram = 2048;
}  // namespace

sockaddr_in inetAddress(uint32_t hostOrderAddress, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(hostOrderAddress);
    a.sin_port = htons(port);
    return a;
}

UdpEndpoint::UdpEndpoint(uint16_t port, uint32_t hostOrderAddress) : fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const sockaddr_in local = inetAddress(hostOrderAddress, port);
    isBound = bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

UdpEndpoint::~UdpEndpoint() {
    if (fd >= 0) close(fd);
}

void UdpEndpoint::sendTo(uint16_t port, const Bytes& datagram, const std::string& ip) const {
    sockaddr_in to = inetAddress(0, port);
    inet_pton(AF_INET, ip.c_str(), &to.sin_addr);
    sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

bool UdpEndpoint::readable(std::chrono::milliseconds timeout) const {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

std::optional<UdpEndpoint::Bytes> UdpEndpoint::receive(std::chrono::milliseconds timeout) const {
    if (!readable(timeout)) return std::nullopt;
    Bytes buffer(kLargestDatagram);
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n < 0) return std::nullopt;
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

bool UdpEndpoint::echoOne(std::chrono::milliseconds timeout, int copies) const {
    if (!readable(timeout)) return false;
    Bytes buffer(kLargestDatagram);
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n <= 0) return false;
    for (int i = 0; i < copies; ++i)
        sendto(fd, buffer.data(), static_cast<size_t>(n), 0, reinterpret_cast<const sockaddr*>(&from), length);
    return true;
}
