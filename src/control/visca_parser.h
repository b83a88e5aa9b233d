// Answers a VISCA-over-IP command or inquiry datagram: ACK, Completion, errors, inquiry replies.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "control/visca_decoder.h"
#include "control/visca_framing.h"
#include "control/visca_target.h"

class ViscaParser {
public:
    // Sends one datagram to where the request's replies go.
    using Send = std::function<void(std::span<const uint8_t>)>;
    // The reply payload after the prefix byte (e.g. 0x50 ... 0xFF) for an inquiry kind;
    // empty when the kind cannot be answered.
    using InquiryAnswer = std::function<visca::Bytes(int kind, int source)>;

    explicit ViscaParser(ViscaTarget& target) : decoder(target) {}

    // Until set, every inquiry is answered with the error reply.
    void setInquiryAnswer(InquiryAnswer answer) { inquiryAnswer = std::move(answer); }

    // datagram: header and payload, at least 9 bytes; source 1 network, 2 bridge.
    void parse(std::span<const uint8_t> datagram, int source, const Send& send);

private:
    void command(std::span<const uint8_t> datagram, int source, const Send& send);
    void inquiry(std::span<const uint8_t> datagram, int source, const Send& send);
    static void reply(std::span<const uint8_t> request, const visca::Bytes& payload, const Send& send);

    ViscaDecoder decoder;
    InquiryAnswer inquiryAnswer;
};
