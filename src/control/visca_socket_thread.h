// The "viscaPTZ" thread: serves the discovery, VISCA and web-bridge sockets
// (and the MultiPort serial input when it is in use) until stopped.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "control/net_info.h"
#include "control/udp_socket.h"
#include "control/visca_framing.h"
#include "control/visca_receiver.h"
#include "control/visca_target.h"

struct ViscaPorts {
    uint16_t discovery = visca::kDiscoveryPort;
    uint16_t visca = visca::kViscaPort;
    uint16_t bridge = visca::kBridgePort;
    uint16_t bridgeReply = visca::kBridgeReplyPort;
    uint16_t networkReply = visca::kViscaPort;  // replies go to this port of the sender
};

class ViscaSocketThread {
public:
    static constexpr std::chrono::milliseconds kSelectTimeout{200};
    static constexpr std::chrono::seconds kRetryPeriod{1};

    // The MultiPort adapter's serial input: the descriptor to watch (-1 while not
    // in use), and what to do when it is readable.
    struct SerialInput {
        std::function<int()> descriptor;
        std::function<void()> serve;
    };

    // `device`: the interface the network sockets are bound to (platform::interfaceName()).
    ViscaSocketThread(ViscaTarget& target, NetInfo info, ViscaPorts ports = {}, std::string device = "");
    ~ViscaSocketThread();
    ViscaSocketThread(const ViscaSocketThread&) = delete;
    ViscaSocketThread& operator=(const ViscaSocketThread&) = delete;

    // Both before start.
    void setInquiryAnswer(ViscaParser::InquiryAnswer answer);
    void setSerialInput(SerialInput input);

    void start();
    // Asks the thread to end without waiting for it.
    void requestStop();
    // Asks and waits: returns within about one select period; the sockets are closed.
    void stop();

    // True while all four sockets are open.
    bool socketsOpen() const { return allOpen.load(); }

private:
    enum Slot : size_t { kDiscovery, kVisca, kReply, kBridge, kSlots };

    void run();
    void openMissing();
    UdpSocket openSlot(size_t slot) const;
    void closeAll();
    void waitAndServe();
    void serveVisca();
    void serveBridge();
    void serveDiscovery();

    ViscaReceiver receiver;
    NetInfo info;
    ViscaPorts ports;
    std::string device;
    SerialInput serial;

    std::array<UdpSocket, kSlots> sockets;
    std::array<bool, kSlots> failureLogged{};
    std::chrono::steady_clock::time_point nextAttempt{};
    std::array<uint8_t, visca::kMaxDatagram> buffer{};

    std::atomic<bool> stopRequested{false};
    std::atomic<bool> allOpen{false};
    std::thread thread;
};
