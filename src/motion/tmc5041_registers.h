// TMC5041 register numbers and fields, the access table and the start-up register load.
#pragma once

#include <array>
#include <cstdint>

namespace tmc5041 {

constexpr uint8_t kReadable = 1;
constexpr uint8_t kWritable = 2;
constexpr int kRegisters = 128;

// Datagram byte 0: the write flag above the register address.
constexpr uint8_t kWriteBit = 0x80;
constexpr uint8_t kAddressMask = kRegisters - 1;
static_assert(kWriteBit == 0x80 && kAddressMask == 0x7F);

// Registers common to both motors.
enum Global : uint8_t {
    GCONF = 0x00,
    GSTAT = 0x01,
    INPUT = 0x04,
    X_COMPARE = 0x05,
    MSLUT0 = 0x60,  // MSLUT[0..7] follow
    MSLUTSEL = 0x68,
    MSLUTSTART = 0x69,
};
constexpr int kMslutWords = 8;

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

// The driver registers of each motor: 0x6A.. for motor 0, 0x7A.. for motor 1.
enum DriverOffset : uint8_t {
    MSCNT = 0x0A,
    MSCURACT = 0x0B,
    CHOPCONF = 0x0C,
    COOLCONF = 0x0D,
    DRV_STATUS = 0x0F,
};
constexpr uint8_t reg(int motor, DriverOffset offset) { return static_cast<uint8_t>(0x60 + 0x10 * motor + offset); }
static_assert(reg(0, MSCNT) == 0x6A && reg(1, DRV_STATUS) == 0x7F);

// The stealthChop registers of each motor: 0x10.. for motor 0, 0x18.. for motor 1.
enum PwmOffset : uint8_t {
    PWMCONF = 0x00,
    PWM_STATUS = 0x01,
};
constexpr uint8_t reg(int motor, PwmOffset offset) { return static_cast<uint8_t>(0x10 + 8 * motor + offset); }
static_assert(reg(0, PWMCONF) == 0x10 && reg(1, PWM_STATUS) == 0x19);

// VACTUAL is a signed 24-bit value.
constexpr int kVactualBits = 24;
constexpr int32_t signedVactual(uint32_t raw) {
    return static_cast<int32_t>(raw << (32 - kVactualBits)) >> (32 - kVactualBits);
}
static_assert(signedVactual(0xFFFFFF) == -1 && signedVactual(0x7FFFFF) == 0x7FFFFF);

// A register field: `width` bits from bit `shift`. A value that does not fit stops compilation.
struct Field {
    int shift;
    int width;
    consteval uint32_t operator()(uint32_t value) const {
        if (value >> width != 0) throw "value does not fit its field";
        return value << shift;
    }
};

// The SPI status byte each reply starts with (data-sheet motor 1 = our motor 0).
namespace spi_status {
constexpr uint8_t reset_flag = 1u << 0;
constexpr uint8_t driver_error1 = 1u << 1;
constexpr uint8_t driver_error2 = 1u << 2;
constexpr uint8_t velocity_reached1 = 1u << 3;
constexpr uint8_t velocity_reached2 = 1u << 4;
constexpr uint8_t status_stop_l1 = 1u << 5;
constexpr uint8_t status_stop_l2 = 1u << 6;
constexpr uint8_t reserved = 1u << 7;  // reads 0
}  // namespace spi_status

// RAMPMODE values.
namespace rampmode {
constexpr uint32_t kPositioning = 0;       // to XTARGET with all A/D/V parameters
constexpr uint32_t kVelocityPositive = 1;  // to +VMAX using AMAX
constexpr uint32_t kVelocityNegative = 2;  // to -VMAX using AMAX
constexpr uint32_t kHold = 3;
}  // namespace rampmode

namespace ihold_irun {
constexpr Field IHOLD{0, 5};
constexpr Field IRUN{8, 5};
constexpr Field IHOLDDELAY{16, 4};
}  // namespace ihold_irun
struct Current {
    uint32_t ihold, irun, iholddelay;
};
consteval uint32_t iholdIrun(Current c) {
    return ihold_irun::IHOLD(c.ihold) | ihold_irun::IRUN(c.irun) | ihold_irun::IHOLDDELAY(c.iholddelay);
}

namespace sw_mode {
constexpr uint32_t stop_l_enable = 1u << 0;
constexpr uint32_t stop_r_enable = 1u << 1;
constexpr uint32_t pol_stop_l = 1u << 2;  // 1: the left switch is active low
constexpr uint32_t pol_stop_r = 1u << 3;
constexpr uint32_t swap_lr = 1u << 4;
constexpr uint32_t latch_l_active = 1u << 5;
constexpr uint32_t latch_l_inactive = 1u << 6;
constexpr uint32_t latch_r_active = 1u << 7;
constexpr uint32_t latch_r_inactive = 1u << 8;
constexpr uint32_t en_latch_encoder = 1u << 9;  // unused on this chip
constexpr uint32_t sg_stop = 1u << 10;
constexpr uint32_t en_softstop = 1u << 11;
}  // namespace sw_mode

// Active-low switches, XACTUAL latched as a switch becomes active, soft stops; no automatic
// stop, so the motor can be driven off a switch.
constexpr uint32_t kSwitchStopsOff = sw_mode::pol_stop_l | sw_mode::pol_stop_r | sw_mode::latch_l_active |
                                     sw_mode::latch_r_active | sw_mode::en_softstop;
// The same with both switches stopping the motor: the normal state.
constexpr uint32_t kSwitchStopsOn = kSwitchStopsOff | sw_mode::stop_l_enable | sw_mode::stop_r_enable;
static_assert(kSwitchStopsOff == 0x8AC);
static_assert(kSwitchStopsOn == 0x8AF);

// RAMP_STAT bits; those marked R+C clear when read.
namespace ramp_stat {
constexpr uint32_t status_stop_l = 1u << 0;
constexpr uint32_t status_stop_r = 1u << 1;
constexpr uint32_t status_latch_l = 1u << 2;  // R+C
constexpr uint32_t status_latch_r = 1u << 3;  // R+C
constexpr uint32_t event_stop_l = 1u << 4;
constexpr uint32_t event_stop_r = 1u << 5;
constexpr uint32_t event_stop_sg = 1u << 6;      // R+C
constexpr uint32_t event_pos_reached = 1u << 7;  // R+C
constexpr uint32_t velocity_reached = 1u << 8;
constexpr uint32_t position_reached = 1u << 9;
constexpr uint32_t vzero = 1u << 10;
constexpr uint32_t t_zerowait_active = 1u << 11;
constexpr uint32_t second_move = 1u << 12;  // R+C
constexpr uint32_t status_sg = 1u << 13;

// Both switch inputs.
constexpr uint32_t kSwitchInputs = status_stop_l | status_stop_r;
// A switch hit: its input active, the position latched and the motor stopped.
constexpr uint32_t kLeftHit = status_stop_l | status_latch_l | event_stop_l;
constexpr uint32_t kRightHit = status_stop_r | status_latch_r | event_stop_r;
// Any sign of either switch.
constexpr uint32_t kSwitchActivity = kLeftHit | kRightHit;
static_assert(kSwitchInputs == 0x3);
static_assert(kLeftHit == 0x15 && kRightHit == 0x2A);
static_assert(kSwitchActivity == 0x3F);
}  // namespace ramp_stat

namespace chopconf {
constexpr Field TOFF{0, 4};
constexpr Field HSTRT{4, 3};
constexpr Field HEND{7, 4};
constexpr Field TBL{15, 2};
}  // namespace chopconf

namespace pwmconf {
constexpr Field PWM_AMPL{0, 8};
constexpr Field PWM_GRAD{8, 8};
constexpr Field pwm_freq{16, 2};
constexpr uint32_t pwm_autoscale = 1u << 18;
}  // namespace pwmconf

namespace mslutsel {
constexpr Field W0{0, 2}, W1{2, 2}, W2{4, 2}, W3{6, 2};
constexpr Field X1{8, 8}, X2{16, 8}, X3{24, 8};
}  // namespace mslutsel

namespace mslutstart {
constexpr Field START_SIN{0, 8};
constexpr Field START_SIN90{16, 8};
}  // namespace mslutstart

// Motor currents as IHOLD_IRUN values: the start-up (and resting) current.
constexpr uint32_t kCurrentStartup = iholdIrun({.ihold = 3, .irun = 23, .iholddelay = 15});
static_assert(kCurrentStartup == 0x000F1703);

// Bit 0 readable, bit 1 writable, 0 undefined.
const std::array<uint8_t, kRegisters>& accessTable();
// The values the start-up load writes to every writable register.
const std::array<uint32_t, kRegisters>& startupValues();

}  // namespace tmc5041
