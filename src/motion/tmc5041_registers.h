// TMC5041 register numbers, the access table and the start-up register load.
#pragma once

#include <array>
#include <cstdint>

namespace tmc5041 {

constexpr uint8_t kReadable = 1;
constexpr uint8_t kWritable = 2;
constexpr int kRegisters = 128;

// Per-motor registers sit at base(m) + offset; motor 0 is tilt, motor 1 pan.
constexpr uint8_t base(int motor) { return static_cast<uint8_t>(0x20 << motor); }
enum Offset : uint8_t {
    RAMPMODE = 0x00,
    XACTUAL = 0x01,
    VACTUAL = 0x02,
    VSTART = 0x03,
    A1 = 0x04,
    V1 = 0x05,
    AMAX = 0x06,
    VMAX = 0x07,
    DMAX = 0x08,
    D1 = 0x0A,
    VSTOP = 0x0B,
    TZEROWAIT = 0x0C,
    XTARGET = 0x0D,
    IHOLD_IRUN = 0x10,
    VCOOLTHRS = 0x11,
    VHIGH = 0x12,
    SW_MODE = 0x14,
    RAMP_STAT = 0x15,
    XLATCH = 0x16,
};
constexpr uint8_t reg(int motor, Offset offset) { return static_cast<uint8_t>(base(motor) + offset); }

constexpr uint32_t kSwitchStopsOn = 0x8AF;
constexpr uint32_t kSwitchStopsOff = 0x8AC;

// Bit 0 readable, bit 1 writable, 0 undefined.
const std::array<uint8_t, kRegisters>& accessTable();
// The values the start-up load writes to every writable register.
const std::array<uint32_t, kRegisters>& startupValues();

}  // namespace tmc5041
