// The TMC5041 model against its data sheet: SPI pipeline, status, ramps, switches, latches, interrupt, bus.
#include <gtest/gtest.h>
#include <linux/spi/spidev.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <thread>
#include <utility>

#include "sim/app/virtual_camera.h"
#include "support/quiet_settings.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
sim::SimSettings settings(double speed = 25) {
    sim::SimSettings s = quietSettings();
    s.motionSpeed = speed;
    return s;
}

int32_t signed24(uint32_t v) { return static_cast<int32_t>(v << 8) >> 8; }

// n 5-byte transfers over tx/rx.
std::vector<spi_ioc_transfer> transfers(uint8_t* tx, uint8_t* rx, size_t n, uint32_t speed = 0, uint8_t csChange = 0) {
    std::vector<spi_ioc_transfer> t(n);
    std::memset(t.data(), 0, n * sizeof t[0]);
    for (size_t i = 0; i < n; ++i) {
        t[i].tx_buf = reinterpret_cast<uintptr_t>(tx + 5 * i);
        t[i].rx_buf = reinterpret_cast<uintptr_t>(rx + 5 * i);
        t[i].len = 5;
        t[i].speed_hz = speed;
        t[i].cs_change = csChange;
    }
    return t;
}

// Raw datagrams to the model through its spidev node, as a data-sheet reader would send them.
class Bus {
public:
    explicit Bus(sim::VirtualCamera& camera) : file(camera.platform()->openDevice("/dev/spidev32766.0")) {
        if (!file) throw std::runtime_error("no spidev");
        uint8_t mode = SPI_MODE_3;
        file->ioctl(SPI_IOC_WR_MODE, &mode);
    }
    int message(std::vector<spi_ioc_transfer>& t) {
        return file->ioctl(_IOC(_IOC_WRITE, SPI_IOC_MAGIC, 0, SPI_MSGSIZE(t.size())), t.data());
    }
    // One datagram in its own chip-select frame; returns the 5 reply bytes.
    std::array<uint8_t, 5> exchange(uint8_t address, uint32_t v) {
        std::array<uint8_t, 5> tx = {address, uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}, rx{};
        auto t = transfers(tx.data(), rx.data(), 1, 4000000);
        message(t);
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
void panRamps(Bus& bus, uint32_t swMode = 0x8AF) {
    bus.write({{0x54, swMode}, {0x44, 1000}, {0x45, 1000}, {0x46, 3000}, {0x48, 16384}, {0x4A, 1000}, {0x4B, 10}});
}
}  // namespace

TEST(Tmc5041Model, ReadPipelineFollowsTheDataSheetSequence) {
    sim::VirtualCamera camera(settings());
    Bus bus(camera);
    bus.write(0x21, 0x00123456);
    bus.exchange(0x21, 0);                                             // read XACTUAL -> (unused)
    EXPECT_EQ(Bus::data(bus.exchange(0x21, 0)), 0x00123456u);         // read XACTUAL -> XACTUAL
    EXPECT_EQ(Bus::data(bus.exchange(0xA7, 0xABCDEF)), 0x00123456u);  // write VMAX -> XACTUAL
    EXPECT_EQ(Bus::data(bus.exchange(0xA7, 0x123456)), 0x00ABCDEFu);  // write VMAX -> previous data
    EXPECT_EQ(Bus::data(bus.exchange(0x04, 0)), 0x00123456u);
    EXPECT_EQ(Bus::data(bus.exchange(0x04, 0)) >> 24, 0x10u);  // INPUT: VERSION
    EXPECT_EQ(bus.read(0x27), 0u);                              // write-only registers read as zero
}

TEST(Tmc5041Model, StatusByteCarriesResetUntilGstatIsRead) {
    sim::VirtualCamera camera(settings());
    Bus bus(camera);
    bus.exchange(0x00, 0);
    EXPECT_EQ(bus.exchange(0x00, 0)[0] & 0x01, 0x01);
    bus.exchange(0x01, 0);
    EXPECT_EQ(Bus::data(bus.exchange(0x01, 0)), 0x1u);  // GSTAT reset, cleared by that read
    EXPECT_EQ(Bus::data(bus.exchange(0x00, 0)), 0x0u);
    EXPECT_EQ(bus.exchange(0x00, 0)[0] & 0x01, 0x00);
    // Status bit 6 is status_stop_l of the pan motor: a left switch closed with low-active polarity.
    camera.motion().place(1, -300000);
    bus.write(0x54, 0x8AF);
    bus.exchange(0x00, 0);
    EXPECT_EQ(bus.exchange(0x00, 0)[0] & 0x40, 0x40);
}

TEST(Tmc5041Model, PositioningEndsExactlyOnTarget) {
    const struct {
        int32_t target;
        uint32_t vmax, amax, dmax, v1, vstop;
    } cases[] = {{100000, 143000, 3000, 16384, 1000, 10},  {-123457, 59000, 3000, 3000, 1000, 10},
                 {777, 250000, 65535, 65535, 0, 10},       {40001, 20000, 500, 700, 0, 5000},
                 {-1, 1000, 100, 100, 1000, 10},           {90000, 400000, 1000, 200, 50000, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        sim::VirtualCamera camera(settings(50));
        Bus bus(camera);
        panRamps(bus, 0);
        bus.write({{0x46, c.amax}, {0x48, c.dmax}, {0x45, c.v1}, {0x4B, c.vstop}, {0x47, c.vmax}});
        bus.read(0x55);
        bus.write(0x4D, static_cast<uint32_t>(c.target));
        ASSERT_TRUE(waitFor([&] { return camera.motion().peek(0x42) == 0 && camera.motion().peek(0x41) != 0; }, 10s));
        EXPECT_EQ(static_cast<int32_t>(bus.read(0x41)), c.target);
        EXPECT_NEAR(camera.motion().microsteps(1), c.target, 1e-6);
        EXPECT_EQ(bus.read(0x55) & 0x280, 0x280u);  // event_pos_reached and position_reached
        EXPECT_EQ(bus.read(0x55) & 0x80, 0u);       // the event clears on reading
    }
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

TEST(Tmc5041Model, SwitchStopsOnlyTowardsItsSide) {
    sim::VirtualCamera camera(settings());
    Bus bus(camera);
    auto& chip = camera.motion();
    chip.place(1, -260000);  // inside the left switch (at -250000)
    panRamps(bus);
    bus.write({{0x47, 50000}, {0x40, 1}});  // velocity mode, positive: away from the active left switch
    ASSERT_TRUE(waitFor([&] { return chip.microsteps(1) > -240000; }, 10s));
    EXPECT_EQ(bus.read(0x55) & 0x10, 0u);  // no stop event
    bus.write(0x40, 2);                    // towards it: soft stop past the switch edge
    ASSERT_TRUE(waitFor([&] { return chip.peek(0x42) == 0; }, 10s));
    EXPECT_EQ(bus.read(0x55) & 0x15, 0x15u);  // input, latch, stop event
    EXPECT_LT(chip.microsteps(1), -250000);
    EXPECT_GT(chip.microsteps(1), -250000 - 3000);
    // Still asked to go left: stays stopped. Asked right: the event clears and it moves.
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(chip.peek(0x42), 0u);
    bus.write(0x40, 1);
    ASSERT_TRUE(waitFor([&] { return signed24(chip.peek(0x42)) > 0; }, 10s));
    EXPECT_EQ(bus.read(0x55) & 0x10, 0u);
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

TEST(Tmc5041Model, TiltWiringDecidesWhichInputsTheSwitchDrives) {
    for (bool old : {false, true}) {
        sim::SimSettings s = settings();
        s.head.oldTiltWiring = old;
        sim::VirtualCamera camera(s);
        Bus bus(camera);
        camera.motion().place(0, 250000);  // above the switch at 200000
        bus.write(0x34, 0x8AF);
        EXPECT_EQ(bus.read(0x35) & 0x3, old ? 0x3u : 0x2u);
    }
}

TEST(Tmc5041Model, HardEndStopsTheHeadWhileTheCounterRuns) {
    sim::VirtualCamera camera(settings(50));
    Bus bus(camera);
    auto& chip = camera.motion();
    panRamps(bus, 0x8AC);  // switch stops off
    bus.write({{0x47, 200000}, {0x40, 2}});
    ASSERT_TRUE(waitFor([&] { return static_cast<int32_t>(chip.peek(0x41)) < -400000; }, 10s));
    EXPECT_EQ(chip.microsteps(1), -250000 - 80000);
    EXPECT_TRUE(chip.switches(1).left);
}

TEST(Tmc5041Model, InterruptOnlyOnMotorEvents) {
    sim::VirtualCamera camera(settings(10));
    Bus bus(camera);
    auto& line = camera.fpga().line(5);
    panRamps(bus);
    bus.write({{0x40, 0}, {0x47, 20000}});
    std::this_thread::sleep_for(50ms);
    line.unmask();  // delivers what the set-up raised, then arm the line
    line.unmask();
    const uint32_t before = line.eventCount();
    bus.write(0x4D, 100000);  // a long cruise with no event
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(line.eventCount(), before);
    ASSERT_TRUE(waitFor([&] { return camera.motion().peek(0x41) == 100000; }, 10s));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(line.eventCount(), before + 1);  // position reached
    line.unmask();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(line.eventCount(), before + 1);  // and nothing while at rest
}

TEST(Tmc5041Model, SpidevDecodesMessagesAsTheKernel) {
    sim::VirtualCamera camera(settings());
    Bus bus(camera);
    uint8_t tx[10] = {0xA1, 0, 0, 0x12, 0x34, 0xA7, 0, 0, 0x03, 0xE8}, rx[10] = {};
    auto t = transfers(tx, rx, 2);
    // Chip-select held through both: one 80-bit frame, only the last 40 bits execute.
    EXPECT_EQ(bus.message(t), 10);
    EXPECT_EQ(bus.read(0x21), 0u);
    EXPECT_EQ(camera.motion().peek(0x27), 1000u);
    EXPECT_EQ(rx[5], 0xA1);  // the second half's first reply byte: the first datagram shifted through
    // A size field of zero is an empty message that succeeds; a part descriptor or another magic is refused.
    EXPECT_EQ(bus.file->ioctl(_IOC(_IOC_WRITE, SPI_IOC_MAGIC, 0, 0), t.data()), 0);
    EXPECT_EQ(bus.file->ioctl(_IOC(_IOC_WRITE, SPI_IOC_MAGIC, 0, 33), t.data()), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(bus.file->ioctl(_IOC(_IOC_WRITE, 'x', 0, 32), t.data()), -1);
    EXPECT_EQ(errno, ENOTTY);
}

TEST(Tmc5041Model, BusTimeIsChargedBySleeping) {
    sim::VirtualCamera camera(settings());
    Bus bus(camera);
    std::vector<uint8_t> tx(5 * 50, 0), rx(5 * 50);
    // Slow enough that the sleep dominates any build's processing.
    auto t = transfers(tx.data(), rx.data(), 50, 100000, 1);
    timespec cpu0{}, cpu1{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
    const auto start = std::chrono::steady_clock::now();
    bus.message(t);
    const auto wall = std::chrono::steady_clock::now() - start;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
    const double cpu = (cpu1.tv_sec - cpu0.tv_sec) + (cpu1.tv_nsec - cpu0.tv_nsec) * 1e-9;
    EXPECT_GE(wall, 20ms);  // 50 x 40 bits at 100 kHz
    EXPECT_LT(cpu, 0.5 * std::chrono::duration<double>(wall).count());
}
