#include "control/visca_parser.h"

#include <cstdio>

#include "base/log.h"
#include "control/visca_inquiry_kind.h"

namespace {
void logBytes(std::span<const uint8_t> bytes) {
    for (const uint8_t byte : bytes) logAt(5, "0x%02x ", byte);
}
}  // namespace

void ViscaParser::reply(std::span<const uint8_t> request, const visca::Bytes& payload, const Send& send) {
    const visca::Bytes datagram = visca::replyTo(request, payload);
    send(datagram);
}

void ViscaParser::parse(std::span<const uint8_t> datagram, int source, const Send& send) {
    if (datagram.size() <= visca::kHeaderBytes) return;
    if (datagram[8] < 0x80) {
        std::puts("#2 Packet Process UNKNOWN");
        return;
    }
    const uint8_t message = datagram.size() > 9 ? datagram[9] : 0;
    if ((message & ~0x10) == 0x01) return command(datagram, source, send);
    if (isInquiryMessage(message)) return inquiry(datagram, source, send);
    std::puts("Packet Process UNKNOWN");
    reply(datagram, visca::syntaxErrorPayload(source), send);
}

void ViscaParser::command(std::span<const uint8_t> datagram, int source, const Send& send) {
    reply(datagram, visca::ackPayload(source), send);
    const int result = decoder.decode(datagram.subspan(visca::kHeaderBytes), source);
    if (result == ViscaDecoder::kExecuted) return reply(datagram, visca::completionPayload(source), send);
    if (result == ViscaDecoder::kSyntaxError) {
        std::puts("VISCA parser Error Syntax");
    } else {
        logAt(5, "\n#Comm     : ");
        logBytes(datagram);
        std::puts("VISCA parser flag unknown");
    }
    reply(datagram, visca::syntaxErrorPayload(source), send);
}

void ViscaParser::inquiry(std::span<const uint8_t> datagram, int source, const Send& send) {
    const int kind = decoder.decode(datagram.subspan(visca::kHeaderBytes), source);
    if (kind >= kFirstInquiryKind && kind <= kLastInquiryKind && inquiryAnswer) {
        visca::Bytes answer = inquiryAnswer(kind, source);
        if (!answer.empty()) {
            answer.insert(answer.begin(), visca::replyPrefix(source));
            return reply(datagram, answer, send);
        }
    }
    std::puts("VISCA INQUIRY parser flag unknown");
    reply(datagram, visca::syntaxErrorPayload(source), send);
}
