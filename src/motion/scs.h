// SCS: the packet layer of the serial bus servos: instruction packets, checksums, status
// packets and the acknowledgement rules. The transport (slots 0..4) is left to a subclass.
#pragma once

#include <cstdint>

class SCS {
public:
    // Instruction codes.
    static constexpr uint8_t kPing = 1;
    static constexpr uint8_t kRead = 2;
    static constexpr uint8_t kWrite = 3;
    static constexpr uint8_t kDeferredWrite = 4;
    static constexpr uint8_t kAction = 5;
    static constexpr uint8_t kSyncRead = 0x82;
    static constexpr uint8_t kSyncWrite = 0x83;
    static constexpr uint8_t kBroadcast = 0xFE;

    SCS() = default;
    virtual ~SCS() = default;
    SCS(const SCS&) = delete;
    SCS& operator=(const SCS&) = delete;

    // Transport, slots 0..4.
    virtual int appendBytes(const uint8_t* buf, int n) = 0;  // new queued length
    virtual int readBytes(uint8_t* buf, int n) = 0;          // count read before the time-out
    virtual int appendByte(uint8_t b) = 0;
    virtual void flushInput() = 0;
    virtual void flushOutput() = 0;

    // Write packets: 1 when acknowledged (at once for the broadcast ID or level 0), else 0.
    int writeRegisters(uint8_t id, uint8_t address, const uint8_t* data, uint8_t n);
    int writeRegister8(uint8_t id, uint8_t address, uint8_t value);
    int writeRegister16(uint8_t id, uint8_t address, uint16_t value);
    int deferredWrite(uint8_t id, uint8_t address, const uint8_t* data, uint8_t n);
    int action(uint8_t id);
    // n on success, 0 on any failure (the caller's buffer is then untouched).
    int readRegisters(uint8_t id, uint8_t address, uint8_t* buf, uint8_t n);
    // -1 on failure.
    int readRegister8(uint8_t id, uint8_t address);
    int readRegister16(uint8_t id, uint8_t address);
    // The answering ID, -1 on failure.
    int ping(uint8_t id);
    bool readAck(uint8_t id);
    void syncWrite(const uint8_t* ids, uint8_t n, uint8_t address, const uint8_t* data, uint8_t len);

    // Two bytes of a 16-bit value in `byte_order`, and back.
    void split16(uint16_t value, uint8_t* bytes) const;
    uint16_t join16(const uint8_t* bytes) const;

    uint8_t level = 1;       // 1: read an acknowledgement after each write
    uint8_t byte_order = 0;  // 0 little-endian, 1 big-endian
    uint8_t error = 0;       // status byte of the last answer; the answering ID after a ping

protected:
    // FF FF id length instruction [address data...] checksum, sent in one write.
    void sendPacket(uint8_t id, uint8_t address, const uint8_t* data, uint8_t n, uint8_t instruction);
    int writePacket(uint8_t id, uint8_t address, const uint8_t* data, uint8_t n, uint8_t instruction);

    // Bookkeeping of a synchronised read, which this program never issues.
    int sync_index = 0;
    uint8_t* sync_buffer = nullptr;
    int sync_packet_length = 0;
    int sync_buffer_length = 0;
};
