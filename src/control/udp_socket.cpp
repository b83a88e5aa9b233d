#include "control/udp_socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>

#include "base/log.h"

namespace {
int newSocket() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("Cannot open UDP socket!");
    return fd;
}

bool bindTo(int fd, uint32_t address, uint16_t port) {
    const sockaddr_in local = ipv4Address(address, port);
    return bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

// Every socket is retried while it fails, so the lack of rights is explained once only.
void explainMissingRights() {
    static std::atomic<bool> explained{false};
    if (explained.exchange(true)) return;
    logAt(2, "Binding a socket to a network device needs CAP_NET_RAW: run as root, or grant it once with "
             "'setcap cap_net_raw+ep <binary>'\n");
}

bool bindToDevice(int fd, const std::string& device) {
    if (setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(), static_cast<socklen_t>(device.size())) == 0)
        return true;
    if (errno == EPERM) explainMissingRights();
    return false;
}
}  // namespace

sockaddr_in ipv4Address(uint32_t hostOrderAddress, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    address.sin_port = htons(port);
    return address;
}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        close();
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

void UdpSocket::close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

UdpSocket UdpSocket::openUdp(uint16_t port, bool bind, const std::string& device) {
    UdpSocket owned(newSocket());
    if (bind && !bindTo(owned.fd, INADDR_ANY, port)) throw std::runtime_error("Cannot bind UDP socket!");
    const int enable = 1;
    if (setsockopt(owned.fd, SOL_SOCKET, SO_BROADCAST, &enable, sizeof enable) != 0) {
        throw std::runtime_error("Fail to set broadcast enable!");
    }
    if (!device.empty() && !bindToDevice(owned.fd, device)) throw std::runtime_error("Fail to bind to eth0!");
    return owned;
}

UdpSocket UdpSocket::openLoopback(uint16_t port) {
    UdpSocket owned(newSocket());
    if (!bindTo(owned.fd, INADDR_LOOPBACK, port)) throw std::runtime_error("Cannot bind LOOP UDP socket!");
    if (!bindToDevice(owned.fd, "lo")) throw std::runtime_error("Fail to bind to loopback!");
    return owned;
}

ssize_t UdpSocket::receive(std::span<uint8_t> buffer, sockaddr_in& sender) const {
    socklen_t length = sizeof sender;
    return recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&sender), &length);
}

bool UdpSocket::sendTo(std::span<const uint8_t> datagram, const sockaddr_in& to) const {
    if (fd < 0) return false;
    const ssize_t sent = sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT,
                                reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(datagram.size());
}
