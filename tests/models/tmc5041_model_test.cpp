// The TMC5041 model against its data sheet: SPI pipeline, status, ramps, switches and latch.
#include <gtest/gtest.h>
#include <linux/spi/spidev.h>

#include <cmath>
#include <initializer_list>
#include <utility>

#include "sim/app/virtual_camera.h"
#include "support/quiet_settings.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
sim::SimSettings settings(double speed = 25) {
    sim::SimSettings s = quietSettings();
    return s.motionSpeed = speed, s;
}

// Raw datagrams to the model through its spidev node, as a data-sheet reader would send them.
class Bus {
public:
    explicit Bus(sim::VirtualCamera& camera) : file(camera.platform()->openDevice("/dev/spidev32766.0")) {
        if (!file) throw std::runtime_error("no spidev");
        uint8_t mode = SPI_MODE_3;
        file->ioctl(SPI_IOC_WR_MODE, &mode);
    }
    // One datagram in its own chip-select frame; returns the 5 reply bytes.
    std::array<uint8_t, 5> exchange(uint8_t address, uint32_t v) {
        std::array<uint8_t, 5> tx = {address, uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}, rx{};
        spi_ioc_transfer t{};
        t.tx_buf = reinterpret_cast<uintptr_t>(tx.data()), t.rx_buf = reinterpret_cast<uintptr_t>(rx.data());
        t.len = 5, t.speed_hz = 4000000;
        file->ioctl(SPI_IOC_MESSAGE(1), &t);
        return rx;
    }
    static uint32_t data(const std::array<uint8_t, 5>& r) {
        return uint32_t(r[1]) << 24 | uint32_t(r[2]) << 16 | uint32_t(r[3]) << 8 | r[4];
    }
    uint32_t read(uint8_t reg) {  // through the pipeline
        exchange(reg, 0);
        return data(exchange(reg, 0));
    }
    void write(uint8_t reg, uint32_t value) { exchange(static_cast<uint8_t>(reg | 0x80), value); }
    void write(std::initializer_list<std::pair<uint8_t, uint32_t>> writes) {
        for (auto [reg, value] : writes) write(reg, value);
    }
    std::unique_ptr<platform::DeviceFile> file;
};

// Pan ramp set-up: SW_MODE, V1/A1, AMAX, DMAX, D1, VSTOP.
void panRamps(Bus& bus, uint32_t swMode) {
    bus.write({{0x54, swMode}, {0x44, 1000}, {0x45, 1000}, {0x46, 3000}, {0x48, 16384}, {0x4A, 1000}, {0x4B, 10}});
}
}  // namespace

TEST(Tmc5041Model, ReadPipelineAndStatusFollowTheDataSheet) {
    sim::VirtualCamera camera(settings());
    Bus bus(camera);
    bus.exchange(0x00, 0);
    EXPECT_EQ(bus.exchange(0x00, 0)[0] & 0x01, 0x01);  // reset flag in the status byte
    bus.write(0x21, 0x00123456);
    bus.exchange(0x21, 0);
    EXPECT_EQ(Bus::data(bus.exchange(0x21, 0)), 0x00123456u);         // read XACTUAL -> XACTUAL
    EXPECT_EQ(Bus::data(bus.exchange(0xA7, 0xABCDEF)), 0x00123456u);  // write VMAX -> XACTUAL
    EXPECT_EQ(Bus::data(bus.exchange(0xA7, 0x123456)), 0x00ABCDEFu);  // write VMAX -> previous data
    EXPECT_EQ(Bus::data(bus.exchange(0x04, 0)), 0x00123456u);
    EXPECT_EQ(Bus::data(bus.exchange(0x04, 0)) >> 24, 0x10u);  // INPUT: VERSION
    EXPECT_EQ(bus.read(0x27), 0u);                              // write-only registers read as zero
    bus.exchange(0x01, 0);
    EXPECT_EQ(Bus::data(bus.exchange(0x01, 0)), 0x1u);  // GSTAT reset, cleared by that read
    EXPECT_EQ(Bus::data(bus.exchange(0x00, 0)), 0x0u);
    EXPECT_EQ(bus.exchange(0x00, 0)[0] & 0x01, 0x00);
}

TEST(Tmc5041Model, RampTimeMatchesTheParameters) {
    // 400000 microsteps at VMAX 100000 with AMAX=DMAX 2000 (no A1/D1 phases).
    sim::VirtualCamera camera(settings(10));
    Bus bus(camera);
    panRamps(bus, 0);
    bus.write({{0x45, 0}, {0x46, 2000}, {0x48, 2000}, {0x47, 100000}});
    const auto start = std::chrono::steady_clock::now();
    bus.write(0x4D, 400000);
    ASSERT_TRUE(waitFor([&] { return camera.motion().peek(0x41) == 400000; }, 20s));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() * 10;
    const double f = 13.2e6, v = 100000 * f / (1 << 24), a = 2000 * f * f / std::pow(2.0, 41);
    const double expected = 400000 / v + v / a;  // trapezoid: cruise plus one ramp time
    EXPECT_NEAR(seconds, expected, 0.03 * expected + 0.05);
}

TEST(Tmc5041Model, HardStopFreezesAtTheEdgeAndLatchRecordsIt) {
    sim::VirtualCamera camera(settings());
    Bus bus(camera);
    auto& chip = camera.motion();
    panRamps(bus, 0x0AF);  // stops and latches on, soft stop off
    // Towards the right switch at 350000 (physical), XACTUAL 1000 ahead.
    bus.write({{0x41, 1000}, {0x47, 80000}, {0x40, 1}});
    ASSERT_TRUE(waitFor([&] { return chip.peek(0x42) == 0 && chip.peek(0x55) & 0x20; }, 10s));
    // Frozen within one velocity update (80000 / 32768 microsteps) past the edge.
    EXPECT_GE(chip.microsteps(1), 350000);
    EXPECT_LT(chip.microsteps(1), 350003);
    EXPECT_EQ(bus.read(0x55) & 0x2A, 0x2Au);
    EXPECT_EQ(bus.read(0x55) & 0x08, 0u);        // the latch flag reads once
    EXPECT_EQ(bus.read(0x56), bus.read(0x41));  // XLATCH: XACTUAL at the edge, where it froze
    EXPECT_NEAR(static_cast<int32_t>(bus.read(0x56)) - 1000, 350000, 3);
    bus.write(0x40, 3);  // hold mode clears the stop event
    EXPECT_EQ(bus.read(0x55) & 0x20, 0u);
}
