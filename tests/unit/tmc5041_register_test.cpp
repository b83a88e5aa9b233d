// The SPI and TMC5041 register layer against a recording spidev: datagram bytes, request codes, access table, traces.
#include <gtest/gtest.h>

#include <linux/spi/spidev.h>

#include <algorithm>
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
    std::vector<spi_ioc_transfer> transfers;
    std::vector<uint8_t> tx;
};

// Records every ioctl; a message is answered by `answer` (tx bytes in, rx bytes out).
struct Recorder {
    std::vector<Call> calls;
    std::function<void(const std::vector<uint8_t>&, uint8_t*)> answer;
    int failWith = 0;
    uint32_t mode = 0, bits = 0, speed = 0;
};

struct RecordingSpidev : platform::DeviceFile {
    explicit RecordingSpidev(Recorder& r) : rec(r) {}
    int ioctl(unsigned long request, void* argument) override {
        Call call{request, {}, {}};
        if (_IOC_NR(request) == 0) {
            const size_t n = _IOC_SIZE(request) / sizeof(spi_ioc_transfer);
            auto* t = static_cast<spi_ioc_transfer*>(argument);
            call.transfers.assign(t, t + n);
            for (size_t i = 0; i < n; ++i) {
                auto* tx = reinterpret_cast<const uint8_t*>(t[i].tx_buf);
                call.tx.insert(call.tx.end(), tx, tx + t[i].len);
            }
            rec.calls.push_back(call);
            if (rec.failWith) return errno = rec.failWith, -1;
            if (rec.answer && n > 0) rec.answer(call.tx, reinterpret_cast<uint8_t*>(t[0].rx_buf));
            return static_cast<int>(call.tx.size());
        }
        rec.calls.push_back(call);
        if (request == SPI_IOC_WR_MODE) rec.mode = *static_cast<uint8_t*>(argument);
        if (request == SPI_IOC_WR_BITS_PER_WORD) rec.bits = *static_cast<uint8_t*>(argument);
        if (request == SPI_IOC_WR_MAX_SPEED_HZ) rec.speed = *static_cast<uint32_t*>(argument);
        return rec.failWith ? (errno = rec.failWith, -1) : 0;
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

TEST(Spi, OpensInMode3With8BitsAt4MHz) {
    Fixture f;
    EXPECT_EQ(std::make_tuple(f.rec.mode, f.rec.bits, f.rec.speed), std::make_tuple(SPI_MODE_3, 8u, 4000000u));
    Recorder rec;
    rec.failWith = EINVAL;
    TMC5041 failing(std::make_shared<RecordingPlatform>(rec));
    LogCapture log(2);
    EXPECT_FALSE(failing.open("/dev/spidev32766.0"));
    EXPECT_FALSE(failing.open("/dev/spidev0.0"));
    EXPECT_FALSE(failing.open(nullptr));
    EXPECT_EQ(log.text(),
              "Device /dev/spidev32766.0: Setting SPI mode 0x03: Invalid argument\n"
              "Device /dev/spidev0.0: opening: No such file or directory\n"
              "Device NULL: opening: No such file or directory\n");
}

TEST(Spi, RefusesLengthsThatAreNotWholeDatagramsAndCodesTheRest) {
    Fixture f;
    LogCapture log(2);
    uint8_t buffer[3000] = {};
    for (int length : {0, 7, -5, 2560}) EXPECT_FALSE(f.chip.transfer(buffer, buffer, length)) << length;
    EXPECT_TRUE(f.rec.calls.empty());
    std::string expected;
    for (int n : {0, 7, -5}) expected += "SPI send/receive: length " + std::to_string(n) + " not a nonzero multiple of 5\n";
    EXPECT_EQ(log.text(), expected + "SPI send/receive: length 2560 exceeds one message\n");
    // The largest message that still fits the request code goes out whole.
    EXPECT_TRUE(f.chip.transfer(buffer, buffer, 2555));
    ASSERT_EQ(f.rec.calls.size(), 1u);
    EXPECT_EQ(f.rec.calls[0].request, SPI_IOC_MESSAGE(511));
    // The request code carries the descriptor size.
    EXPECT_EQ(spiMessageRequest(1), SPI_IOC_MESSAGE(1));
    EXPECT_EQ(spiMessageRequest(512), SPI_IOC_MESSAGE(512));  // the size field wraps to 0 here
    EXPECT_EQ(_IOC_SIZE(spiMessageRequest(512)), 0u);
}

TEST(Tmc5041, WriteSendsOneMessageOfTwoDatagramsAndVerifiesTheEcho) {
    Fixture f;
    f.rec.answer = echo;
    EXPECT_TRUE(f.chip.writeRegister(0x27, 0x00ABCDEF));
    ASSERT_EQ(f.rec.calls.size(), 1u);
    const Call& c = f.rec.calls[0];
    EXPECT_EQ(c.request, SPI_IOC_MESSAGE(2));
    EXPECT_EQ(c.tx, (std::vector<uint8_t>{0xA7, 0x00, 0xAB, 0xCD, 0xEF, 0, 0, 0, 0, 0}));
    ASSERT_EQ(c.transfers.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const spi_ioc_transfer& t = c.transfers[i];
        EXPECT_EQ(std::make_tuple(t.len, t.speed_hz, int(t.bits_per_word), int(t.delay_usecs), int(t.cs_change)),
                  std::make_tuple(5u, 4000000u, 8, 0, i == 0 ? 1 : 0));
    }
    EXPECT_EQ(f.chip.lastStatus(), 0x08);
    uint32_t value = 0;
    EXPECT_TRUE(f.chip.readRegister(0x27, value));  // write-only: from the shadow, no traffic
    EXPECT_EQ(std::make_tuple(value, f.rec.calls.size()), std::make_tuple(0x00ABCDEFu, size_t{1}));
}

TEST(Tmc5041, ReadTakesTheValueFromTheSecondReply) {
    Fixture f;
    f.rec.answer = replyWith(0x41, 0xFFFFFFFE);
    uint32_t value = 0;
    EXPECT_TRUE(f.chip.readRegister(0xA1, value));  // register numbers wrap at 128
    EXPECT_EQ(std::make_tuple(value, f.chip.lastStatus()), std::make_tuple(0xFFFFFFFEu, uint8_t{0x41}));
    EXPECT_EQ(f.rec.calls[0].tx, (std::vector<uint8_t>{0x21, 0, 0, 0, 0, 0x21, 0, 0, 0, 0}));
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
    // The table as the chip's register map has it, spot-checked across every kind of entry.
    const auto& access = tmc5041::accessTable();
    const struct {
        uint8_t reg, access;
    } expected[] = {{0x00, 3}, {0x01, 1}, {0x02, 0}, {0x03, 2}, {0x04, 1}, {0x05, 2}, {0x10, 2}, {0x11, 1},
                    {0x18, 2}, {0x19, 1}, {0x20, 3}, {0x21, 3}, {0x22, 1}, {0x29, 0}, {0x2D, 3}, {0x30, 2},
                    {0x34, 3}, {0x35, 1}, {0x36, 1}, {0x37, 0}, {0x4D, 3}, {0x56, 1}, {0x60, 2}, {0x69, 2},
                    {0x6A, 1}, {0x6C, 3}, {0x6D, 2}, {0x6E, 0}, {0x6F, 1}, {0x7C, 3}, {0x7F, 1}, {0x7E, 0}};
    for (const auto& e : expected) EXPECT_EQ(access[e.reg], e.access) << std::hex << int(e.reg);
}

TEST(Tmc5041, FailedWritesLeaveTheShadowAndSayWhy) {
    Fixture f;
    f.rec.answer = echo;
    ASSERT_TRUE(f.chip.writeRegister(0x27, 5000));
    LogCapture log(2);
    f.rec.failWith = EIO;
    EXPECT_FALSE(f.chip.writeRegister(0x27, 7000));
    uint32_t value = 0;
    EXPECT_TRUE(f.chip.readRegister(0x27, value) && value == 5000u);
    EXPECT_FALSE(f.chip.readRegister(0x21, value));
    EXPECT_EQ(value, 5000u);  // a failed read leaves the output alone
    EXPECT_EQ(log.text(),
              "SPI send/receive: Input/output errorSET TMC5041@0x0027 = 7000 (0x00001b58) [STAND_STILL] error\n"
              "SPI send/receive: Input/output errorget TMC5041@0x0021 = 5000 (0x00001388) [STAND_STILL] error\n");
}

TEST(Tmc5041, TracesShowEachAccessWhenTurnedUp) {
    Fixture f;
    f.chip.setVerbosity(5);
    f.rec.answer = echo;
    LogCapture log(5);
    f.chip.writeRegister(0x27, 1);
    uint32_t value = 0;
    f.chip.readRegister(0x27, value);
    EXPECT_EQ(log.text(),
              "TX A7 00 00 00 01 00 00 00 00 00  RX [] 00 00 00 00 00 08 00 00 00 01   Return true\n"
              "SET TMC5041@0x0027 = 1 (0x00000001) [STAND_STILL]\n"
              "get TMC5041@0x0027 = 1 (0x00000001) [STAND_STILL] cached\n");
}

TEST(Tmc5041, StatusTextNamesTheSetBitsInOrder) {
    const struct {
        uint8_t status;
        const char* text;
    } cases[] = {{0x00, "[]"}, {0x41, "[RESET STOP_L]"}, {0x80, "[STOP_R]"}, {0xFF, "[RESET DRIVER_ERROR STALL_GUARD STAND_STILL VELOCITY_REACHED POSITION_REACHED STOP_L STOP_R]"}};
    for (const auto& c : cases) {
        char buffer[128];
        EXPECT_EQ(TMC5041::rampStatusString(buffer, sizeof buffer, c.status), static_cast<int>(std::strlen(c.text)));
        EXPECT_STREQ(buffer, c.text);
    }
    char small[6];
    EXPECT_EQ(TMC5041::rampStatusString(small, sizeof small, 0x41), 14);  // truncated, never overrun
    EXPECT_STREQ(small, "[RESE");
}

// The count and order of the writes and two of the loaded words; the homing scenarios run the same load
// against the simulated chip.
TEST(Tmc5041, StartupLoadWritesEveryWritableRegisterAscending) {
    Fixture f;
    f.rec.answer = echo;
    f.chip.writeAllRegisters(tmc5041::startupValues());
    std::vector<uint8_t> regs;
    for (const auto& c : f.rec.calls) regs.push_back(c.tx[0] & 0x7F);
    EXPECT_EQ(regs.size(), 51u);
    EXPECT_TRUE(std::is_sorted(regs.begin(), regs.end()));
    uint32_t value = 0;
    EXPECT_TRUE(f.chip.readRegister(0x30, value) && value == 0x000F1703u);
    EXPECT_TRUE(f.chip.readRegister(0x68, value) && value == 0xFFFF8056u);
    EXPECT_EQ(f.rec.calls.front().tx, (std::vector<uint8_t>{0x80, 0, 0, 3, 8, 0, 0, 0, 0, 0}));
}
