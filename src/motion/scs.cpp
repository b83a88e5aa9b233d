#include "motion/scs.h"

#include <cstring>

namespace {
constexpr uint8_t kHeader = 0xFF;
constexpr int kStatusBytes = 6;  // FF FF id length status checksum, without data
}  // namespace

void SCS::split16(uint16_t value, uint8_t* bytes) const {
    const uint8_t low = static_cast<uint8_t>(value & 0xFF);
    const uint8_t high = static_cast<uint8_t>(value >> 8);
    bytes[0] = byte_order == 0 ? low : high;
    bytes[1] = byte_order == 0 ? high : low;
}

uint16_t SCS::join16(const uint8_t* bytes) const {
    return byte_order == 0 ? static_cast<uint16_t>(bytes[0] | bytes[1] << 8)
                           : static_cast<uint16_t>(bytes[1] | bytes[0] << 8);
}

void SCS::sendPacket(uint8_t id, uint8_t address, const uint8_t* data, uint8_t n, uint8_t instruction) {
    const bool parameters = data != nullptr && n > 0;
    const uint8_t length = parameters ? static_cast<uint8_t>(n + 3) : 2;
    const uint8_t head[5] = {kHeader, kHeader, id, length, instruction};
    appendBytes(head, 5);
    unsigned sum = id + length + instruction;
    if (parameters) {
        appendByte(address);
        appendBytes(data, n);
        sum += address;
        for (uint8_t i = 0; i < n; ++i) sum += data[i];
    }
    appendByte(static_cast<uint8_t>(~sum));
}

int SCS::writePacket(uint8_t id, uint8_t address, const uint8_t* data, uint8_t n, uint8_t instruction) {
    flushInput();
    sendPacket(id, address, data, n, instruction);
    flushOutput();
    error = 0;
    if (id == kBroadcast || level == 0) return 1;
    return readAck(id) ? 1 : 0;
}

int SCS::writeRegisters(uint8_t id, uint8_t address, const uint8_t* data, uint8_t n) {
    return writePacket(id, address, data, n, kWrite);
}

int SCS::writeRegister8(uint8_t id, uint8_t address, uint8_t value) { return writeRegisters(id, address, &value, 1); }

int SCS::writeRegister16(uint8_t id, uint8_t address, uint16_t value) {
    uint8_t bytes[2];
    split16(value, bytes);
    return writeRegisters(id, address, bytes, 2);
}

int SCS::deferredWrite(uint8_t id, uint8_t address, const uint8_t* data, uint8_t n) {
    return writePacket(id, address, data, n, kDeferredWrite);
}

int SCS::action(uint8_t id) { return writePacket(id, 0, nullptr, 0, kAction); }

int SCS::readRegisters(uint8_t id, uint8_t address, uint8_t* buf, uint8_t n) {
    flushInput();
    sendPacket(id, address, &n, 1, kRead);
    flushOutput();
    uint8_t reply[256 + kStatusBytes];
    const int expected = n + kStatusBytes;
    if (readBytes(reply, expected) != expected) return 0;
    if (reply[0] != kHeader || reply[1] != kHeader) return 0;
    unsigned sum = 0;
    for (int i = 2; i <= n + 4; ++i) sum += reply[i];
    if (static_cast<uint8_t>(~sum) != reply[n + 5]) return 0;
    std::memcpy(buf, reply + 5, n);
    error = reply[4];
    return n;
}

int SCS::readRegister8(uint8_t id, uint8_t address) {
    uint8_t value = 0;
    return readRegisters(id, address, &value, 1) == 1 ? value : -1;
}

int SCS::readRegister16(uint8_t id, uint8_t address) {
    uint8_t bytes[2] = {};
    return readRegisters(id, address, bytes, 2) == 2 ? join16(bytes) : -1;
}

int SCS::ping(uint8_t id) {
    flushInput();
    sendPacket(id, 0, nullptr, 0, kPing);
    flushOutput();
    uint8_t reply[kStatusBytes];
    if (readBytes(reply, kStatusBytes) != kStatusBytes) return -1;
    if (reply[0] != kHeader || reply[1] != kHeader || reply[3] != 2) return -1;
    if (id != kBroadcast && reply[2] != id) return -1;
    if (static_cast<uint8_t>(~(reply[4] + reply[2] + 2)) != reply[5]) return -1;
    error = reply[2];
    return reply[2];
}

bool SCS::readAck(uint8_t id) {
    uint8_t reply[kStatusBytes];
    if (readBytes(reply, kStatusBytes) != kStatusBytes) return false;
    if (reply[0] != kHeader || reply[1] != kHeader || reply[2] != id || reply[3] != 2) return false;
    if (static_cast<uint8_t>(~(id + 2 + reply[4])) != reply[5]) return false;
    error = reply[4];
    return true;
}

void SCS::syncWrite(const uint8_t* ids, uint8_t n, uint8_t address, const uint8_t* data, uint8_t len) {
    flushInput();
    const uint8_t length = static_cast<uint8_t>((len + 1) * n + 4);
    const uint8_t head[7] = {kHeader, kHeader, kBroadcast, length, kSyncWrite, address, len};
    appendBytes(head, 7);
    unsigned sum = kBroadcast + length + kSyncWrite + address + len;
    for (uint8_t i = 0; i < n; ++i) {
        appendByte(ids[i]);
        sum += ids[i];
        const uint8_t* part = data + static_cast<size_t>(i) * len;
        appendBytes(part, len);
        for (uint8_t k = 0; k < len; ++k) sum += part[k];
    }
    appendByte(static_cast<uint8_t>(~sum));
    flushOutput();
}
