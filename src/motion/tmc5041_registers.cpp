#include "motion/tmc5041_registers.h"

namespace tmc5041 {

namespace {
constexpr uint8_t R = kReadable, W = kWritable, RW = kReadable | kWritable;

struct Entry {
    uint8_t access;
    uint32_t value;
};

constexpr void motor(std::array<Entry, kRegisters>& t, int m) {
    const uint8_t b = base(m);
    t[b + RAMPMODE] = {RW, 0};
    t[b + XACTUAL] = {RW, 0};
    t[b + VACTUAL] = {R, 0};
    t[b + VSTART] = {W, 0};
    t[b + A1] = {W, 1000};
    t[b + V1] = {W, 1000};
    t[b + AMAX] = {W, 16384};
    t[b + VMAX] = {W, 0};
    t[b + DMAX] = {W, 16384};
    t[b + D1] = {W, 1000};
    t[b + VSTOP] = {W, 10};
    t[b + TZEROWAIT] = {W, 0};
    t[b + XTARGET] = {RW, 0};
    t[b + IHOLD_IRUN] = {W, 0x000F1703};
    t[b + VCOOLTHRS] = {W, 0x0007FFFF};
    t[b + VHIGH] = {W, 0x0007FFFF};
    t[b + SW_MODE] = {RW, kSwitchStopsOn};
    t[b + RAMP_STAT] = {R, 0};
    t[b + XLATCH] = {R, 0};
    const uint8_t driver = static_cast<uint8_t>(0x6A + 0x10 * m);
    t[driver + 0] = {R, 0};             // MSCNT
    t[driver + 1] = {R, 0};             // MSCURACT
    t[driver + 2] = {RW, 0x0001050F};   // CHOPCONF
    t[driver + 3] = {W, 0};             // coolStep configuration
    t[driver + 5] = {R, 0};             // DRV_STATUS
    t[0x10 + 8 * m] = {W, 0x0006087F};  // PWMCONF
    t[0x11 + 8 * m] = {R, 0};           // PWM_STATUS
}

constexpr std::array<Entry, kRegisters> table() {
    std::array<Entry, kRegisters> t{};
    t[0x00] = {RW, 0x00000308};  // GCONF
    t[0x01] = {R, 0};            // GSTAT
    t[0x03] = {W, 0};
    t[0x04] = {R, 0};  // INPUT
    t[0x05] = {W, 0};  // X_COMPARE
    motor(t, 0);
    motor(t, 1);
    constexpr uint32_t mslut[8] = {0xAAAAB554, 0x4A9554AA, 0x24492929, 0x10104222,
                                   0xFBFFFFFF, 0xB5BB777D, 0x49295556, 0x00404222};
    for (int i = 0; i < 8; ++i) t[0x60 + i] = {W, mslut[i]};
    t[0x68] = {W, 0xFFFF8056};  // MSLUTSEL
    t[0x69] = {W, 0x00F70000};  // MSLUTSTART
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
