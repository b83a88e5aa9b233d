// Arbitrary SPI replies into the register layer and the stepper primitives that decode them.
#include <linux/spi/spidev.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "base/log.h"
#include "motion/stepper.h"

namespace {
struct Replies {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t at = 0;
};

class ReplyingSpidev : public platform::DeviceFile {
public:
    explicit ReplyingSpidev(Replies& r) : replies(r) {}
    int ioctl(unsigned long request, void* argument) override {
        if (_IOC_NR(request) != 0) return 0;
        const size_t n = _IOC_SIZE(request) / sizeof(spi_ioc_transfer);
        auto* t = static_cast<spi_ioc_transfer*>(argument);
        for (size_t i = 0; i < n; ++i) {
            auto* rx = reinterpret_cast<uint8_t*>(t[i].rx_buf);
            for (uint32_t k = 0; k < t[i].len; ++k)
                rx[k] = replies.at < replies.size ? replies.data[replies.at++] : 0;
        }
        // The first byte left over decides whether the message fails.
        return (replies.at < replies.size && replies.data[replies.at] == 0xEE) ? (errno = EIO, -1) : 0;
    }

private:
    Replies& replies;
};

class ReplyingPlatform : public platform::Platform {
public:
    explicit ReplyingPlatform(Replies& r) : replies(r) {}
    std::unique_ptr<platform::UioDevice> findUio(const std::string&) override { return nullptr; }
    std::unique_ptr<platform::DeviceFile> openDevice(const std::string&) override {
        return std::make_unique<ReplyingSpidev>(replies);
    }
    bool setRealtimePriority(int) override { return false; }
    std::shared_ptr<platform::NdiLibrary> ndiLibrary() override { return nullptr; }

private:
    Replies& replies;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    debug_level = 0;
    Replies replies{data, size, 0};
    Stepper stepper(nullptr, 1, nullptr, 90, 1.0f, std::make_shared<ReplyingPlatform>(replies));
    if (!stepper.open("/dev/spidev32766.0")) return 0;
    stepper.handshake(size % 2);
    uint32_t value = 0;
    for (uint8_t reg : {0x21, 0x35, 0x55, 0x56, 0x22, 0x02, 0xFF}) stepper.readRegister(reg, value);
    stepper.writeRegister(0x27, value);
    stepper.stop(1);
    stepper.moveAbsolute(0, static_cast<int32_t>(value), 59000);
    stepper.moveRelative(1, -30000, 143000);
    stepper.rotate(0, static_cast<int32_t>(value));
    return 0;
}
