// The SPI and TMC5041 register layer against a recording spidev: refusals, request codes, access table, traces.
// The stepper scenarios run the datagrams, clock mode and chip-select through the simulated chip.
#include <gtest/gtest.h>

#include <linux/spi/spidev.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "motion/tmc5041.h"
#include "support/log_capture.h"

namespace {
struct Call {
    unsigned long request;
    std::vector<uint8_t> tx;
};

// Records every ioctl; a message is answered by `answer` (tx bytes in, rx bytes out).
struct Recorder {
    std::vector<Call> calls;
    std::function<void(const std::vector<uint8_t>&, uint8_t*)> answer;
    int failWith = 0;
};

struct RecordingSpidev : platform::DeviceFile {
    explicit RecordingSpidev(Recorder& r) : rec(r) {}
    int ioctl(unsigned long request, void* argument) override {
        Call call{request, {}};
        const size_t n = _IOC_NR(request) == 0 ? _IOC_SIZE(request) / sizeof(spi_ioc_transfer) : 0;
        auto* t = static_cast<spi_ioc_transfer*>(argument);
        for (size_t i = 0; i < n; ++i) {
            auto* tx = reinterpret_cast<const uint8_t*>(t[i].tx_buf);
            call.tx.insert(call.tx.end(), tx, tx + t[i].len);
        }
        rec.calls.push_back(call);
        if (rec.failWith) return errno = rec.failWith, -1;
        if (rec.answer && n > 0) rec.answer(call.tx, reinterpret_cast<uint8_t*>(t[0].rx_buf));
        return static_cast<int>(call.tx.size());
    }
    Recorder& rec;
};

struct RecordingPlatform : platform::Platform {
    explicit RecordingPlatform(Recorder& r) : rec(r) {}
    std::unique_ptr<platform::UioDevice> findUio(const std::string&) override { return nullptr; }
    std::unique_ptr<platform::DeviceFile> openDevice(const std::string& path) override {
        if (path != "/dev/spidev32766.0") return errno = ENOENT, nullptr;
        return std::make_unique<RecordingSpidev>(rec);
    }
    bool setRealtimePriority(int) override { return false; }
    std::shared_ptr<platform::NdiLibrary> ndiLibrary() override { return nullptr; }
    Recorder& rec;
};

// Lets a test turn the register traces on, as a developer would.
struct TracingTmc : TMC5041 {
    using TMC5041::TMC5041;
    void setVerbosity(int v) { verbosity = v; }
};

// Replies as the chip would to two datagrams: second reply = status + `data`.
auto replyWith(uint8_t status, uint32_t data) {
    return [=](const std::vector<uint8_t>&, uint8_t* rx) {
        const uint8_t r[5] = {status, uint8_t(data >> 24), uint8_t(data >> 16), uint8_t(data >> 8), uint8_t(data)};
        std::memcpy(rx + 5, r, sizeof r);
    };
}

// Echoes the data of the first datagram in the second reply, as a write's confirmation.
void echo(const std::vector<uint8_t>& tx, uint8_t* rx) {
    rx[5] = 0x08;
    std::memcpy(rx + 6, tx.data() + 1, 4);
}

struct Fixture {
    Recorder rec;
    TracingTmc chip{std::make_shared<RecordingPlatform>(rec)};
    Fixture() {
        EXPECT_TRUE(chip.open("/dev/spidev32766.0"));
        rec.calls.clear();
    }
};
}  // namespace

TEST(Spi, OpenFailuresAndLengthsThatAreNotWholeDatagramsAreRefusedWithTheirMessage) {
    Recorder rec;
    rec.failWith = EINVAL;
    TMC5041 failing(std::make_shared<RecordingPlatform>(rec));
    Fixture f;
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
    EXPECT_EQ(f.rec.calls[0].request, SPI_IOC_MESSAGE(511));
    EXPECT_EQ(spiMessageRequest(1), SPI_IOC_MESSAGE(1));
    EXPECT_EQ(spiMessageRequest(512), SPI_IOC_MESSAGE(512));  // the size field wraps to 0 here
    EXPECT_EQ(_IOC_SIZE(spiMessageRequest(512)), 0u);
}

// A write-only register is read back from the shadow without traffic; register numbers wrap at 128.
TEST(Tmc5041, WriteVerifiesTheEchoAndReadTakesTheSecondReply) {
    Fixture f;
    f.rec.answer = echo;
    EXPECT_TRUE(f.chip.writeRegister(0x27, 0x00ABCDEF));
    EXPECT_EQ(f.rec.calls[0].tx, (std::vector<uint8_t>{0xA7, 0x00, 0xAB, 0xCD, 0xEF, 0, 0, 0, 0, 0}));
    uint32_t value = 0;
    EXPECT_TRUE(f.chip.readRegister(0x27, value));
    EXPECT_EQ(std::make_tuple(value, f.rec.calls.size(), f.chip.lastStatus()), std::make_tuple(0x00ABCDEFu, size_t{1}, uint8_t{8}));
    f.rec.answer = replyWith(0x41, 0xFFFFFFFE);
    EXPECT_TRUE(f.chip.readRegister(0xA1, value));
    EXPECT_EQ(std::make_tuple(value, f.chip.lastStatus()), std::make_tuple(0xFFFFFFFEu, uint8_t{0x41}));
    EXPECT_EQ(f.rec.calls[1].tx, (std::vector<uint8_t>{0x21, 0, 0, 0, 0, 0x21, 0, 0, 0, 0}));
}

TEST(Tmc5041, AccessTableDecidesWhatGoesOnTheBus) {
    Fixture f;
    LogCapture log(2);
    uint32_t value = 77;
    EXPECT_TRUE(f.chip.readRegister(0x27, value));  // VMAX never written: shadow 0
    EXPECT_EQ(value, 0u);
    EXPECT_FALSE(f.chip.readRegister(0x02, value));  // undefined
    EXPECT_FALSE(f.chip.writeRegister(0x35, 1));     // RAMP_STAT is read-only
    EXPECT_FALSE(f.chip.writeRegister(0x7F, 1));     // DRV_STATUS too
    EXPECT_TRUE(f.rec.calls.empty());
    EXPECT_EQ(log.text(),
              "get TMC5041@0x0002 = 0 (0x00000000) [] error register is undefined\n"
              "SET TMC5041@0x0035 = 1 (0x00000001) [] error register not writeable\n"
              "SET TMC5041@0x007f = 1 (0x00000001) [] error register not writeable\n");
}

// A failed write leaves the shadow, a failed read the output; each says why. Turned up, each access is traced.
TEST(Tmc5041, FailuresSayWhyAndTracesShowEachAccess) {
    Fixture f;
    f.rec.answer = echo;
    f.chip.setVerbosity(5);
    {
        LogCapture log(5);
        ASSERT_TRUE(f.chip.writeRegister(0x27, 5000));
        uint32_t value = 0;
        f.chip.readRegister(0x27, value);
        EXPECT_EQ(log.text(),
                  "TX A7 00 00 13 88 00 00 00 00 00  RX [] 00 00 00 00 00 08 00 00 13 88   Return true\n"
                  "SET TMC5041@0x0027 = 5000 (0x00001388) [STAND_STILL]\n"
                  "get TMC5041@0x0027 = 5000 (0x00001388) [STAND_STILL] cached\n");
    }
    f.chip.setVerbosity(0);
    LogCapture log(2);
    f.rec.failWith = EIO;
    EXPECT_FALSE(f.chip.writeRegister(0x27, 7000));
    uint32_t value = 0;
    EXPECT_TRUE(f.chip.readRegister(0x27, value) && value == 5000u);
    EXPECT_FALSE(f.chip.readRegister(0x21, value));
    EXPECT_EQ(value, 5000u);
    EXPECT_EQ(log.text(),
              "SPI send/receive: Input/output errorSET TMC5041@0x0027 = 7000 (0x00001b58) [STAND_STILL] error\n"
              "SPI send/receive: Input/output errorget TMC5041@0x0021 = 5000 (0x00001388) [STAND_STILL] error\n");
}

TEST(Tmc5041, StatusTextNamesTheSetBitsInOrderAndIsNeverOverrun) {
    const std::pair<uint8_t, const char*> cases[] = {
        {0x00, "[]"}, {0x41, "[RESET STOP_L]"}, {0x80, "[STOP_R]"},
        {0xFF, "[RESET DRIVER_ERROR STALL_GUARD STAND_STILL VELOCITY_REACHED POSITION_REACHED STOP_L STOP_R]"}};
    for (const auto& [status, text] : cases) {
        char buffer[128];
        EXPECT_EQ(TMC5041::rampStatusString(buffer, sizeof buffer, status), static_cast<int>(std::strlen(text)));
        EXPECT_STREQ(buffer, text);
    }
    char small[6];
    EXPECT_EQ(TMC5041::rampStatusString(small, sizeof small, 0x41), 14);
    EXPECT_STREQ(small, "[RESE");
}
