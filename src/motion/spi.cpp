#include "motion/spi.h"

#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/log.h"

unsigned long spiMessageRequest(int n) {
    // As SPI_IOC_MESSAGE(n): a size that does not fit the field is encoded as 0.
    const size_t size = static_cast<size_t>(n) * sizeof(spi_ioc_transfer);
    const size_t field = size < (1u << _IOC_SIZEBITS) ? size : 0;
    return _IOC(_IOC_WRITE, SPI_IOC_MAGIC, 0, field);
}

SPI::SPI(std::shared_ptr<platform::Platform> platform_) : platform(std::move(platform_)) {}

SPI::~SPI() { close(); }

bool SPI::configure(const char* path, unsigned long request, void* value, const char* format, int shown) {
    if (device->ioctl(request, value) >= 0) return true;
    logAt(2, format, path, shown, std::strerror(errno));
    return false;
}

bool SPI::open(const char* path) {
    close();
    const char* name = path != nullptr ? path : "NULL";
    logAt(5, "Device %s: open\n", name);
    if (path == nullptr || !platform) {
        errno = ENOENT;
        logAt(2, "Device %s: opening: %s\n", name, std::strerror(errno));
        return false;
    }
    device = platform->openDevice(path);
    if (!device) {
        logAt(2, "Device %s: opening: %s\n", name, std::strerror(errno));
        return false;
    }
    fd = device->descriptor();
    uint8_t mode = SPI_MODE_3;
    uint8_t bits = 8;
    uint32_t speed = kSpeedHz;
    return configure(name, SPI_IOC_WR_MODE, &mode, "Device %s: Setting SPI mode 0x%02x: %s\n", mode) &&
           configure(name, SPI_IOC_WR_BITS_PER_WORD, &bits, "Device %s: Setting SPI bits to %d: %s\n", bits) &&
           configure(name, SPI_IOC_WR_MAX_SPEED_HZ, &speed, "Device %s: Setting SPI speed to %d: %s\n",
                     static_cast<int>(speed));
}

bool SPI::close() {
    if (device) {
        logAt(5, "SPI Shutting down existing device with file descriptor %d\n", fd);
        device.reset();
        fd = -1;
    }
    return true;
}

bool SPI::transfer(const uint8_t* tx, uint8_t* rx, int length) {
    if (length <= 0 || length % kDatagram != 0) {
        logAt(2, "SPI send/receive: length %d not a nonzero multiple of 5\n", length);
        return false;
    }
    const int n = length / kDatagram;
    if (n > kMaxDatagrams) {
        // The kernel would read a zero size field as an empty message and report success.
        logAt(2, "SPI send/receive: length %d exceeds one message\n", length);
        return false;
    }
    std::vector<spi_ioc_transfer> descriptors(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        auto& d = descriptors[static_cast<size_t>(i)];
        std::memset(&d, 0, sizeof d);
        d.tx_buf = reinterpret_cast<uintptr_t>(tx + kDatagram * i);
        d.rx_buf = reinterpret_cast<uintptr_t>(rx + kDatagram * i);
        d.len = kDatagram;
        d.speed_hz = kSpeedHz;
        d.bits_per_word = 8;
        d.delay_usecs = 0;
        d.cs_change = i + 1 < n ? 1 : 0;
    }
    int result = -1;
    if (device)
        result = device->ioctl(spiMessageRequest(n), descriptors.data());
    else
        errno = EBADF;
    if (result < 0) {
        logAt(2, "SPI send/receive: %s", std::strerror(errno));
        return false;
    }
    return true;
}
