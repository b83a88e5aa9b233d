// The receive rules of the two VISCA sources: what a datagram from the network
// or from the local web bridge is answered with, before and around the parser.
#pragma once

#include <cstdint>
#include <span>

#include "control/visca_parser.h"
#include "control/visca_target.h"

class ViscaReceiver {
public:
    using Send = ViscaParser::Send;

    explicit ViscaReceiver(ViscaTarget& target) : parser(target) {}

    ViscaParser& viscaParser() { return parser; }

    // From the VISCA port; every answer goes to the sender's reply port. Replies are
    // dropped: answering one would let two endpoints bounce replies forever.
    void fromNetwork(std::span<const uint8_t> datagram, const Send& toSender);
    // From the bridge port; parser answers go to the bridge's reply port, control
    // replies to the sender's address at the network reply port.
    void fromBridge(std::span<const uint8_t> datagram, const Send& toBridge, const Send& controlToSender);

private:
    ViscaParser parser;
};
