// The HDMI receiver on the simulated i2c-1, spoken to with the i2c-dev structures.
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>
#include <vector>
#include <thread>

#include "status/hdmi_format.h"
#include "sim/app/virtual_camera.h"
#include "support/quiet_settings.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
class Bus {
public:
    explicit Bus(const std::string& input) : camera(quietSettings(input)), file(camera.platform()->openDevice("/dev/i2c-1")) {}

    // One write message: the register, then its value and the next ones'.
    int write(std::vector<uint8_t> bytes) {
        i2c_msg m{};
        m.addr = 0x48, m.len = uint16_t(bytes.size()), m.buf = bytes.data();
        i2c_rdwr_ioctl_data data{&m, 1};
        return file->ioctl(I2C_RDWR, &data);
    }
    int read(uint8_t reg, uint8_t& value, uint16_t address = 0x48) {
        i2c_msg m[2]{};
        m[0].addr = address, m[0].len = 1, m[0].buf = &reg;
        m[1].addr = address, m[1].flags = I2C_M_RD | I2C_M_NOSTART, m[1].len = 1, m[1].buf = &value;
        i2c_rdwr_ioctl_data data{m, 2};
        return file->ioctl(I2C_RDWR, &data);
    }
    uint8_t reg(uint8_t r) {
        uint8_t v = 0xee;
        EXPECT_EQ(read(r, v), 2);
        return v;
    }
    bool waitStable(std::chrono::milliseconds limit = 500ms) {
        return waitFor([&] { return reg(0x10) == 0x06; }, limit);
    }
    sim::HdmiReceiver& chip() { return camera.receiver(); }

    sim::VirtualCamera camera;
    std::unique_ptr<platform::DeviceFile> file;
};
}  // namespace

TEST(HdmiReceiverModel, TimingOfEverySourceIdentifiesAsItsFormat) {
    const struct {
        const char* input;
        int code;
    } cases[] = {
        {"1080p60", 17},   {"1080p59.94", 17}, {"1080p50", 15},    {"1080p30", 14}, {"1080p29.97", 14},
        {"1080p25", 12},   {"1080p24", 11},    {"1080p23.98", 11}, {"1080i60", 6},  {"1080i59.94", 6},
        {"1080i50", 4},    {"720p60", 9},      {"720p59.94", 9},   {"720p50", 7},   {"720p30", 27},
        {"720p25", 25},    {"576i", 1},        {"480i", 2},
        // 720p24 has 4125 pixels a line: more than the 12 bits the receiver reports.
        {"720p24", hdmi_format_unknown},
    };
    Bus bus("none");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        bus.camera.input().set(*sim::InputFormat::parse(c.input));
        ASSERT_TRUE(bus.waitStable());
        const hdmi_timing t = decode_hdmi_timing(bus.reg(0x58), bus.reg(0x59), bus.reg(0x5a), bus.reg(0x5b),
                                                 bus.reg(0x5f), bus.reg(0x60), bus.reg(0x61), bus.reg(0x64));
        EXPECT_EQ(identify_hdmi_format(t, 0).code, c.code);
    }
}

TEST(HdmiReceiverModel, DetectsThenLocksAndLosesTheSignal) {
    Bus bus("none");
    EXPECT_EQ(bus.reg(0x10), 0x00);
    EXPECT_EQ(bus.chip().stateName(), "no_signal");
    bus.camera.input().set(*sim::InputFormat::parse("1080p50"));
    EXPECT_EQ(bus.reg(0x10), 0x02);  // detected, not yet stable
    EXPECT_EQ(bus.reg(0x64), 0);     // nothing measurable before the lock
    ASSERT_TRUE(bus.waitStable());
    EXPECT_EQ(bus.chip().stateName(), "stable");
    // A video reset through 0x05 bit 7 makes it lock again.
    EXPECT_EQ(bus.write({0x05, 0x86}), 1);
    EXPECT_EQ(bus.reg(0x10), 0x02);
    ASSERT_TRUE(bus.waitStable());
    // Pulsing the output enable while locked starts the output.
    bus.write({0x20, 0x84});
    bus.write({0x20, 0x04});
    EXPECT_EQ(bus.chip().stateName(), "running");
    bus.camera.input().set(*sim::InputFormat::parse("none"));
    EXPECT_EQ(bus.reg(0x10), 0x00);
    EXPECT_EQ(bus.chip().stateName(), "no_signal");
}

TEST(HdmiReceiverModel, RegistersKeepWhatIsWrittenAndAutoIncrement) {
    Bus bus("none");
    EXPECT_EQ(bus.write({0x24, 0xb8, 0x05, 0xb4}), 1);
    EXPECT_EQ(bus.reg(0x25), 0x05);
    EXPECT_EQ(bus.chip().registerValue(0x26), 0xb4);
}

TEST(HdmiReceiverModel, ColourFormatFollowsTheSource) {
    Bus bus("720p60");
    EXPECT_EQ(bus.reg(0xae) & 0x60, 0x20);
    bus.chip().setColour(sim::HdmiReceiver::Colour::rgb);
    EXPECT_EQ(bus.reg(0xae) & 0x60, 0x00);
    bus.chip().setColour(sim::HdmiReceiver::Colour::ycbcr444);
    EXPECT_EQ(bus.reg(0xae) & 0x60, 0x40);
}

TEST(HdmiReceiverModel, InjectedFaults) {
    Bus bus("720p60");
    ASSERT_TRUE(bus.waitStable());
    uint8_t v = 0;
    bus.chip().failTransfers(2);
    EXPECT_EQ(bus.read(0x10, v), -1);
    EXPECT_EQ(errno, EREMOTEIO);
    EXPECT_EQ(bus.write({0x20, 1}), -1);
    EXPECT_EQ(bus.read(0x10, v), 2);
    EXPECT_EQ(bus.chip().transferErrors(), 2u);
    // Nobody answers at another address.
    EXPECT_EQ(bus.read(0x10, v, 0x49), -1);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(bus.file->ioctl(I2C_SLAVE, nullptr), -1);
    // An unreadable clock measure, and audio FIFO faults cleared by the audio reset.
    bus.chip().setClockUnreadable(true);
    EXPECT_EQ(bus.reg(0x64), 0);
    bus.chip().raiseAudioFault();
    EXPECT_EQ(bus.reg(0x15) & 0x18, 0x18);
    bus.write({0x05, 0x24});
    EXPECT_EQ(bus.reg(0x15) & 0x18, 0);
}
