// VISCA over IP framing: the 8-byte header, reply payloads and the control reply.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace visca {

inline constexpr uint16_t kDiscoveryPort = 52380;
inline constexpr uint16_t kViscaPort = 52381;
inline constexpr uint16_t kBridgePort = 52385;
inline constexpr uint16_t kBridgeReplyPort = 52386;

inline constexpr size_t kHeaderBytes = 8;
inline constexpr size_t kMaxDatagram = 1000;

// Payload types (bytes 0-1 of the header).
inline constexpr uint16_t kTypeCommand = 0x0100;
inline constexpr uint16_t kTypeInquiry = 0x0110;
inline constexpr uint16_t kTypeReply = 0x0111;
inline constexpr uint16_t kTypeControlCommand = 0x0200;
inline constexpr uint16_t kTypeControlReply = 0x0201;

inline constexpr int kSourceNetwork = 1;
inline constexpr int kSourceBridge = 2;

using Bytes = std::vector<uint8_t>;

// The first byte of every reply payload: 0x90 for the network, 0xA0 for the bridge.
constexpr uint8_t replyPrefix(int source) { return static_cast<uint8_t>(0x80 | ((source & 0x7) << 4)); }

inline Bytes ackPayload(int source) { return {replyPrefix(source), 0x41, 0xFF}; }
inline Bytes completionPayload(int source) { return {replyPrefix(source), 0x51, 0xFF}; }
inline Bytes syntaxErrorPayload(int source) { return {replyPrefix(source), 0x60, 0x02, 0xFF}; }

// Header fields; the caller guarantees at least kHeaderBytes.
uint16_t payloadType(std::span<const uint8_t> datagram);
uint32_t sequenceNumber(std::span<const uint8_t> datagram);

// A datagram with the given header fields around the payload.
Bytes frame(uint16_t type, uint32_t sequence, std::span<const uint8_t> payload);
// A reply (0x01 0x11) echoing the request's sequence bytes.
Bytes replyTo(std::span<const uint8_t> request, std::span<const uint8_t> payload);
// The 9-byte control reply.
std::array<uint8_t, 9> controlReply(uint32_t sequence);

}  // namespace visca
