#include "control/visca_socket_thread.h"

#include <sys/select.h>

#include <algorithm>
#include <stdexcept>

#include "base/log.h"
#include "control/discovery_reply.h"
#include "platform/device_path.h"
#include "platform/thread_name.h"

ViscaSocketThread::ViscaSocketThread(ViscaTarget& target, NetInfo info_, ViscaPorts ports_, std::string device_)
    : receiver(target),
      info(std::move(info_)),
      ports(ports_),
      device(device_.empty() ? platform::interfaceName() : std::move(device_)) {}

ViscaSocketThread::~ViscaSocketThread() { stop(); }

void ViscaSocketThread::setInquiryAnswer(ViscaParser::InquiryAnswer answer) {
    receiver.viscaParser().setInquiryAnswer(std::move(answer));
}

void ViscaSocketThread::setSerialInput(SerialInput input) { serial = std::move(input); }

void ViscaSocketThread::start() {
    if (thread.joinable()) return;
    stopRequested = false;
    thread = std::thread([this] { run(); });
}

void ViscaSocketThread::requestStop() { stopRequested = true; }

void ViscaSocketThread::stop() {
    requestStop();
    if (thread.joinable()) thread.join();
}

void ViscaSocketThread::run() {
    set_thread_name("viscaPTZ");
    while (!stopRequested.load()) {
        if (!allOpen.load() && std::chrono::steady_clock::now() >= nextAttempt) openMissing();
        try {
            waitAndServe();
        } catch (const std::exception& error) {
            logAt(2, "viscaPTZ: %s\n", error.what());
        }
    }
    closeAll();
}

UdpSocket ViscaSocketThread::openSlot(size_t slot) const {
    switch (slot) {
        case kDiscovery: return UdpSocket::openUdp(ports.discovery, true, device);
        case kVisca: return UdpSocket::openUdp(ports.visca, true, device);
        case kReply: return UdpSocket::openUdp(0, false, device);
        default: return UdpSocket::openLoopback(ports.bridge);
    }
}

// A socket that cannot be set up (the interface not up yet at boot, a port in
// use) is retried every second; the others serve meanwhile.
void ViscaSocketThread::openMissing() {
    bool all = true;
    for (size_t slot = 0; slot < kSlots; ++slot) {
        if (sockets[slot].isOpen()) continue;
        try {
            UdpSocket opened = openSlot(slot);
            if (opened.descriptor() >= FD_SETSIZE) throw std::runtime_error("Cannot open UDP socket!");
            sockets[slot] = std::move(opened);
            failureLogged[slot] = false;
        } catch (const std::runtime_error& error) {
            if (!failureLogged[slot]) logAt(2, "%s\n", error.what());
            failureLogged[slot] = true;
            all = false;
        }
    }
    allOpen = all;
    nextAttempt = std::chrono::steady_clock::now() + kRetryPeriod;
}

void ViscaSocketThread::closeAll() {
    for (auto& socket : sockets) socket.close();
    allOpen = false;
}

void ViscaSocketThread::waitAndServe() {
    fd_set readable;
    FD_ZERO(&readable);
    int highest = -1;
    auto watch = [&](int fd) {
        if (fd < 0 || fd >= FD_SETSIZE) return;
        FD_SET(fd, &readable);
        highest = std::max(highest, fd);
    };
    const int serialFd = serial.descriptor ? serial.descriptor() : -1;
    watch(serialFd);
    for (size_t slot : {kDiscovery, kVisca, kBridge}) watch(sockets[slot].descriptor());

    timeval timeout{0, static_cast<suseconds_t>(std::chrono::microseconds(kSelectTimeout).count())};
    if (select(highest + 1, &readable, nullptr, nullptr, &timeout) <= 0) return;

    auto ready = [&](int fd) { return fd >= 0 && fd < FD_SETSIZE && FD_ISSET(fd, &readable); };
    if (ready(serialFd) && serial.serve) serial.serve();
    if (ready(sockets[kVisca].descriptor())) serveVisca();
    if (ready(sockets[kBridge].descriptor())) serveBridge();
    if (ready(sockets[kDiscovery].descriptor())) serveDiscovery();
}

void ViscaSocketThread::serveVisca() {
    sockaddr_in sender{};
    const ssize_t length = sockets[kVisca].receive(buffer, sender);
    if (length < 0) return;
    sockaddr_in replyAddress = sender;
    replyAddress.sin_port = htons(ports.networkReply);
    const UdpSocket& replySocket = sockets[kReply];
    receiver.fromNetwork(std::span(buffer.data(), static_cast<size_t>(length)),
                         [&](std::span<const uint8_t> datagram) { replySocket.sendTo(datagram, replyAddress); });
}

void ViscaSocketThread::serveBridge() {
    sockaddr_in sender{};
    const ssize_t length = sockets[kBridge].receive(buffer, sender);
    if (length < 0) return;
    sockaddr_in controlAddress = sender;
    controlAddress.sin_port = htons(ports.networkReply);
    const sockaddr_in webAddress = ipv4Address(INADDR_LOOPBACK, ports.bridgeReply);
    const UdpSocket& bridgeSocket = sockets[kBridge];
    const UdpSocket& replySocket = sockets[kReply];
    receiver.fromBridge(
        std::span(buffer.data(), static_cast<size_t>(length)),
        [&](std::span<const uint8_t> datagram) { bridgeSocket.sendTo(datagram, webAddress); },
        [&](std::span<const uint8_t> datagram) { replySocket.sendTo(datagram, controlAddress); });
}

void ViscaSocketThread::serveDiscovery() {
    sockaddr_in sender{};
    const ssize_t length = sockets[kDiscovery].receive(buffer, sender);
    if (length <= 0) return;
    const visca::Bytes reply =
        discoveryReply(info, std::span(buffer.data(), static_cast<size_t>(length)), currentHostname());
    sockets[kDiscovery].sendTo(reply, ipv4Address(INADDR_BROADCAST, ntohs(sender.sin_port)));
}
