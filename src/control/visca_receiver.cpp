#include "control/visca_receiver.h"

#include "base/log.h"
#include "control/visca_framing.h"

namespace {
// Answering a reply would let two endpoints bounce replies at each other forever.
bool isReply(std::span<const uint8_t> datagram) {
    const uint16_t type = visca::payloadType(datagram);
    return type == visca::kTypeReply || type == visca::kTypeControlReply;
}

void sendControlReply(uint32_t sequence, const ViscaReceiver::Send& send) {
    const auto reply = visca::controlReply(sequence);
    send(reply);
}
}  // namespace

void ViscaReceiver::fromNetwork(std::span<const uint8_t> datagram, const Send& toSender) {
    if (datagram.size() < 9 || isReply(datagram)) return;
    if (datagram[0] == 0x02) return sendControlReply(0, toSender);
    if (datagram[0] == 0x01 && (datagram[1] == 0x00 || datagram[1] == 0x10) && datagram[8] == 0x81 &&
        datagram.back() == 0xFF) {
        return parser.parse(datagram, visca::kSourceNetwork, toSender);
    }
    logAt(5, "ctrl_fd sequency Err\n");
    sendControlReply(visca::sequenceNumber(datagram), toSender);
}

// The bridge's answers go to its reply port and its control replies to the network reply
// port, never back to the bridge port, so a reply cannot bounce here: every type is served.
void ViscaReceiver::fromBridge(std::span<const uint8_t> datagram, const Send& toBridge, const Send& controlToSender) {
    if (datagram.size() < 9) return;
    if (datagram[0] == 0x02) return sendControlReply(0, controlToSender);
    if (datagram[0] != 0x01 || datagram[8] != 0x82 || datagram.back() != 0xFF) return;
    if (logEnabled(5)) {
        logAt(5, "Web Comm : ");
        for (const uint8_t byte : datagram) logAt(5, "0x%02x ", byte);
        logAt(5, "\n");
    }
    parser.parse(datagram, visca::kSourceBridge, toBridge);
}
