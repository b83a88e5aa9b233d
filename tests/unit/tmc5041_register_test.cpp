// The SPI register layer's refusals, failures and traces; the stepper scenarios run its datagrams on the chip model.
#include <gtest/gtest.h>

#include <linux/spi/spidev.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "motion/tmc5041.h"
#include "support/log_capture.h"

namespace {
// Records every ioctl. A message's second reply echoes the first datagram's data with status 0x08, as the
// chip confirms a write.
struct Recorder : platform::Platform, platform::DeviceFile {
    std::vector<std::pair<unsigned long, std::vector<uint8_t>>> calls;  // request, bytes sent
    int failWith = 0;
    int ioctl(unsigned long request, void* argument) override {
        std::pair<unsigned long, std::vector<uint8_t>> call{request, {}};
        const size_t n = _IOC_NR(request) == 0 ? _IOC_SIZE(request) / sizeof(spi_ioc_transfer) : 0;
        auto* t = static_cast<spi_ioc_transfer*>(argument);
        for (size_t i = 0; i < n; ++i) {
            auto* tx = reinterpret_cast<const uint8_t*>(t[i].tx_buf);
            call.second.insert(call.second.end(), tx, tx + t[i].len);
        }
        calls.push_back(call);
        if (failWith) return errno = failWith, -1;
        auto* rx = n > 0 ? reinterpret_cast<uint8_t*>(t[0].rx_buf) : nullptr;
        if (rx) rx[5] = 0x08, std::memcpy(rx + 6, call.second.data() + 1, 4);
        return static_cast<int>(call.second.size());
    }
    std::unique_ptr<platform::UioDevice> findUio(const std::string&) override { return nullptr; }
    std::unique_ptr<platform::DeviceFile> openDevice(const std::string& path) override {
        if (path != "/dev/spidev32766.0") return errno = ENOENT, nullptr;
        struct Share : platform::DeviceFile {  // the chip's handle on this recorder
            Recorder& r;
            explicit Share(Recorder& r) : r(r) {}
            int ioctl(unsigned long request, void* argument) override { return r.ioctl(request, argument); }
        };
        return std::make_unique<Share>(*this);
    }
    bool setRealtimePriority(int) override { return false; }
    std::shared_ptr<platform::NdiLibrary> ndiLibrary() override { return nullptr; }
};

// Lets a test turn the register traces on, as a developer would.
struct TracingTmc : TMC5041 {
    using TMC5041::TMC5041;
    void setVerbosity(int v) { verbosity = v; }
};

struct Fixture {
    Recorder rec;
    TracingTmc chip{std::shared_ptr<Recorder>(&rec, [](Recorder*) {})};
    Fixture() {
        EXPECT_TRUE(chip.open("/dev/spidev32766.0"));
        rec.calls.clear();
    }
};
}  // namespace

TEST(Spi, OpenFailuresAndLengthsThatAreNotWholeDatagramsAreRefusedWithTheirMessage) {
    Fixture f;
    Recorder bad;
    bad.failWith = EINVAL;
    TMC5041 failing(std::shared_ptr<Recorder>(&bad, [](Recorder*) {}));
    LogCapture log(2);
    EXPECT_FALSE(failing.open("/dev/spidev32766.0") || failing.open("/dev/spidev0.0") || failing.open(nullptr));
    uint8_t buffer[3000] = {};
    for (int length : {0, 7, -5, 2560}) EXPECT_FALSE(f.chip.transfer(buffer, buffer, length)) << length;
    EXPECT_TRUE(f.rec.calls.empty());
    EXPECT_EQ(log.text(),
              "Device /dev/spidev32766.0: Setting SPI mode 0x03: Invalid argument\n"
              "Device /dev/spidev0.0: opening: No such file or directory\n"
              "Device NULL: opening: No such file or directory\n"
              "SPI send/receive: length 0 not a nonzero multiple of 5\n"
              "SPI send/receive: length 7 not a nonzero multiple of 5\n"
              "SPI send/receive: length -5 not a nonzero multiple of 5\n"
              "SPI send/receive: length 2560 exceeds one message\n");
    // The largest message that still fits the request code goes out whole; the code carries the descriptor size.
    EXPECT_TRUE(f.chip.transfer(buffer, buffer, 2555));
    ASSERT_EQ(f.rec.calls.size(), 1u);
    EXPECT_EQ(f.rec.calls[0].first, SPI_IOC_MESSAGE(511));
    EXPECT_EQ(spiMessageRequest(512), SPI_IOC_MESSAGE(512));  // the size field wraps to 0 here
    EXPECT_EQ(_IOC_SIZE(spiMessageRequest(512)), 0u);
}

// The access table keeps undefined and read-only registers off the bus, a failed write leaves the shadow and
// a failed read the output; each says why. Turned up, each access is traced.
TEST(Tmc5041, RefusalsAndFailuresSayWhyAndTracesShowEachAccess) {
    Fixture f;
    uint32_t value = 77;
    {
        LogCapture log(5);
        EXPECT_TRUE(f.chip.readRegister(0x27, value));  // VMAX never written: shadow 0, no traffic
        EXPECT_FALSE(f.chip.readRegister(0x02, value));  // undefined
        EXPECT_FALSE(f.chip.writeRegister(0x35, 1));     // RAMP_STAT is read-only
        EXPECT_FALSE(f.chip.writeRegister(0x7F, 1));     // DRV_STATUS too
        EXPECT_EQ(std::make_tuple(value, f.rec.calls.size()), std::make_tuple(0u, size_t{0}));
        f.chip.setVerbosity(5);
        ASSERT_TRUE(f.chip.writeRegister(0x27, 5000));
        f.chip.readRegister(0x27, value);
        EXPECT_EQ(log.text(),
                  "get TMC5041@0x0002 = 0 (0x00000000) [] error register is undefined\n"
                  "SET TMC5041@0x0035 = 1 (0x00000001) [] error register not writeable\n"
                  "SET TMC5041@0x007f = 1 (0x00000001) [] error register not writeable\n"
                  "TX A7 00 00 13 88 00 00 00 00 00  RX [] 00 00 00 00 00 08 00 00 13 88   Return true\n"
                  "SET TMC5041@0x0027 = 5000 (0x00001388) [STAND_STILL]\n"
                  "get TMC5041@0x0027 = 5000 (0x00001388) [STAND_STILL] cached\n");
    }
    f.chip.setVerbosity(0);
    LogCapture log(2);
    f.rec.failWith = EIO;
    EXPECT_FALSE(f.chip.writeRegister(0x27, 7000));
    EXPECT_TRUE(f.chip.readRegister(0x27, value) && value == 5000u);
    EXPECT_FALSE(f.chip.readRegister(0x21, value));
    EXPECT_EQ(value, 5000u);
    EXPECT_EQ(log.text(),
              "SPI send/receive: Input/output errorSET TMC5041@0x0027 = 7000 (0x00001b58) [STAND_STILL] error\n"
              "SPI send/receive: Input/output errorget TMC5041@0x0021 = 5000 (0x00001388) [STAND_STILL] error\n");
}

// Every bit named in order; a short buffer gets what fits, never more, and the length it would have needed.
TEST(Tmc5041, StatusTextNamesTheSetBitsInOrderAndIsNeverOverrun) {
    char buffer[128], small[6];
    EXPECT_EQ(TMC5041::rampStatusString(buffer, sizeof buffer, 0xFF), 92);
    EXPECT_STREQ(buffer, "[RESET DRIVER_ERROR STALL_GUARD STAND_STILL VELOCITY_REACHED POSITION_REACHED STOP_L STOP_R]");
    EXPECT_EQ(TMC5041::rampStatusString(small, sizeof small, 0x41), 14);
    EXPECT_STREQ(small, "[RESE");
}
