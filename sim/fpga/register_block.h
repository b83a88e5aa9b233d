// A block of FPGA registers whose accesses have side effects in a model.
#pragma once

#include <cstdint>
#include <optional>

namespace sim {

// Byte n (0 lowest) of a register word: blocks give each byte of a register its own meaning.
constexpr uint8_t byteOf(uint32_t value, int n) { return static_cast<uint8_t>(value >> (8 * n)); }

class RegisterBlock {
public:
    virtual ~RegisterBlock() = default;
    // After the register file holds the new value; laneMask marks the bytes written.
    virtual void onWrite(uint32_t reg, uint32_t oldValue, uint32_t newValue, uint32_t laneMask) = 0;
    // A live value for the register, or nothing to read the register file.
    virtual std::optional<uint32_t> onRead(uint32_t /*reg*/) { return std::nullopt; }
};

}  // namespace sim
