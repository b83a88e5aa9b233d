// The HDMI receiver on the simulated i2c-1, spoken to with the i2c-dev structures.
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <vector>

#include "sim/app/virtual_camera.h"
#include "support/quiet_settings.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
class Bus {
public:
    Bus() : camera(quietSettings("none")), file(camera.platform()->openDevice("/dev/i2c-1")) {}
    // One write message: the register, then its value and the next ones'.
    int write(std::vector<uint8_t> bytes) {
        i2c_msg m{};
        m.addr = 0x48, m.len = uint16_t(bytes.size()), m.buf = bytes.data();
        i2c_rdwr_ioctl_data data{&m, 1};
        return file->ioctl(I2C_RDWR, &data);
    }
    uint8_t reg(uint8_t r) {
        uint8_t v = 0xee;
        i2c_msg m[2]{};
        m[0].addr = 0x48, m[0].len = 1, m[0].buf = &r;
        m[1].addr = 0x48, m[1].flags = I2C_M_RD | I2C_M_NOSTART, m[1].len = 1, m[1].buf = &v;
        i2c_rdwr_ioctl_data data{m, 2};
        EXPECT_EQ(file->ioctl(I2C_RDWR, &data), 2);
        return v;
    }
    bool waitStable() { return waitFor([&] { return reg(0x10) == 0x06; }, 500ms); }

    sim::VirtualCamera camera;
    std::unique_ptr<platform::DeviceFile> file;
};
}  // namespace

TEST(HdmiReceiverModel, DetectsLocksRestartsAndLosesTheSignal) {
    Bus bus;
    EXPECT_EQ(bus.reg(0x10), 0x00);
    bus.camera.input().set(*sim::InputFormat::parse("1080p50"));
    EXPECT_EQ(bus.reg(0x10), 0x02);  // detected, not yet stable
    EXPECT_EQ(bus.reg(0x64), 0);     // nothing measurable before the lock
    ASSERT_TRUE(bus.waitStable());
    // A video reset through 0x05 bit 7 makes it lock again.
    EXPECT_EQ(bus.write({0x05, 0x86}), 1);
    EXPECT_EQ(bus.reg(0x10), 0x02);
    ASSERT_TRUE(bus.waitStable());
    // Pulsing the output enable while locked starts the output.
    bus.write({0x20, 0x84});
    bus.write({0x20, 0x04});
    EXPECT_EQ(bus.camera.receiver().stateName(), "running");
    bus.camera.input().set(*sim::InputFormat::parse("none"));
    EXPECT_EQ(bus.reg(0x10), 0x00);
}
