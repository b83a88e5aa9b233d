#include "motion/tmc5041_registers.h"

namespace tmc5041 {

namespace {
constexpr uint8_t R = kReadable, W = kWritable, RW = kReadable | kWritable;

struct Entry {
    uint8_t access;
    uint32_t value;
};

// Positioning ramps of a start-up: A1 up to V1, AMAX beyond; D1 below V1, DMAX above.
constexpr uint32_t kStartA1 = 1000, kStartV1 = 1000, kStartAmax = 16384, kStartDmax = 16384, kStartD1 = 1000;
constexpr uint32_t kStartVstop = 10;
constexpr uint32_t kStartVelocityThreshold = 0x0007FFFF;  // VCOOLTHRS and VHIGH

constexpr uint32_t kChopper = chopconf::TOFF(15) | chopconf::HSTRT(0) | chopconf::HEND(10) | chopconf::TBL(2);
static_assert(kChopper == 0x0001050F);

constexpr uint32_t kStealthChop =
    pwmconf::PWM_AMPL(127) | pwmconf::PWM_GRAD(8) | pwmconf::pwm_freq(2) | pwmconf::pwm_autoscale;
static_assert(kStealthChop == 0x0006087F);

constexpr uint32_t kGlobalConfig = 0x00000308;

// The data sheet's default sine wave table.
constexpr uint32_t kMslut[kMslutWords] = {0xAAAAB554, 0x4A9554AA, 0x24492929, 0x10104222,
                                          0xFBFFFFFF, 0xB5BB777D, 0x49295556, 0x00404222};
constexpr uint32_t kMslutSegments = mslutsel::W0(2) | mslutsel::W1(1) | mslutsel::W2(1) | mslutsel::W3(1) |
                                    mslutsel::X1(128) | mslutsel::X2(255) | mslutsel::X3(255);
static_assert(kMslutSegments == 0xFFFF8056);
constexpr uint32_t kMslutStart = mslutstart::START_SIN(0) | mslutstart::START_SIN90(247);
static_assert(kMslutStart == 0x00F70000);

constexpr void motor(std::array<Entry, kRegisters>& t, int m) {
    t[reg(m, RAMPMODE)] = {RW, rampmode::kPositioning};
    t[reg(m, XACTUAL)] = {RW, 0};
    t[reg(m, VACTUAL)] = {R, 0};
    t[reg(m, VSTART)] = {W, 0};
    t[reg(m, A1)] = {W, kStartA1};
    t[reg(m, V1)] = {W, kStartV1};
    t[reg(m, AMAX)] = {W, kStartAmax};
    t[reg(m, VMAX)] = {W, 0};
    t[reg(m, DMAX)] = {W, kStartDmax};
    t[reg(m, D1)] = {W, kStartD1};
    t[reg(m, VSTOP)] = {W, kStartVstop};
    t[reg(m, TZEROWAIT)] = {W, 0};
    t[reg(m, XTARGET)] = {RW, 0};
    t[reg(m, IHOLD_IRUN)] = {W, kCurrentStartup};
    t[reg(m, VCOOLTHRS)] = {W, kStartVelocityThreshold};
    t[reg(m, VHIGH)] = {W, kStartVelocityThreshold};
    t[reg(m, SW_MODE)] = {RW, kSwitchStopsOn};
    t[reg(m, RAMP_STAT)] = {R, 0};
    t[reg(m, XLATCH)] = {R, 0};
    t[reg(m, MSCNT)] = {R, 0};
    t[reg(m, MSCURACT)] = {R, 0};
    t[reg(m, CHOPCONF)] = {RW, kChopper};
    t[reg(m, COOLCONF)] = {W, 0};
    t[reg(m, DRV_STATUS)] = {R, 0};
    t[reg(m, PWMCONF)] = {W, kStealthChop};
    t[reg(m, PWM_STATUS)] = {R, 0};
}

constexpr std::array<Entry, kRegisters> table() {
    std::array<Entry, kRegisters> t{};
    t[GCONF] = {RW, kGlobalConfig};
    t[GSTAT] = {R, 0};
    t[0x03] = {W, 0};  // written at start-up; the data sheet gives it no name
    t[INPUT] = {R, 0};
    t[X_COMPARE] = {W, 0};
    motor(t, 0);
    motor(t, 1);
    for (int i = 0; i < kMslutWords; ++i) t[MSLUT0 + i] = {W, kMslut[i]};
    t[MSLUTSEL] = {W, kMslutSegments};
    t[MSLUTSTART] = {W, kMslutStart};
    return t;
}

constexpr auto kTable = table();

template <typename T, typename F>
constexpr std::array<T, kRegisters> column(F field) {
    std::array<T, kRegisters> c{};
    for (int i = 0; i < kRegisters; ++i) c[i] = field(kTable[i]);
    return c;
}
}  // namespace

const std::array<uint8_t, kRegisters>& accessTable() {
    static constexpr auto access = column<uint8_t>([](const Entry& e) { return e.access; });
    return access;
}

const std::array<uint32_t, kRegisters>& startupValues() {
    static constexpr auto values = column<uint32_t>([](const Entry& e) { return e.value; });
    return values;
}

}  // namespace tmc5041
