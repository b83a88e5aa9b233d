#include "sim/motion/spidev_model.h"

#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace sim {

namespace {
std::atomic<int> nextNumber{100};
// Bus times up to this are waited out on the CPU, longer ones asleep.
constexpr auto kLongestSpin = std::chrono::microseconds(200);
}

SpidevModel::SpidevModel(std::shared_ptr<Tmc5041Model> chip_) : chip(std::move(chip_)), number(nextNumber++) {}

int SpidevModel::ioctl(unsigned long request, void* argument) {
    if (_IOC_TYPE(request) != SPI_IOC_MAGIC) {
        errno = ENOTTY;
        return -1;
    }
    if (_IOC_NR(request) == 0 && _IOC_DIR(request) == _IOC_WRITE) return message(_IOC_SIZE(request), argument);
    if (argument == nullptr) {
        errno = EFAULT;
        return -1;
    }
    switch (request) {
        case SPI_IOC_WR_MODE: mode = *static_cast<uint8_t*>(argument); return 0;
        case SPI_IOC_RD_MODE: *static_cast<uint8_t*>(argument) = mode; return 0;
        case SPI_IOC_WR_BITS_PER_WORD: bits = *static_cast<uint8_t*>(argument); return 0;
        case SPI_IOC_RD_BITS_PER_WORD: *static_cast<uint8_t*>(argument) = bits; return 0;
        case SPI_IOC_WR_MAX_SPEED_HZ: maxSpeed = *static_cast<uint32_t*>(argument); return 0;
        case SPI_IOC_RD_MAX_SPEED_HZ: *static_cast<uint32_t*>(argument) = maxSpeed; return 0;
        default: errno = ENOTTY; return -1;
    }
}

int SpidevModel::message(size_t size, void* argument) {
    if (size % sizeof(spi_ioc_transfer) != 0) {
        errno = EINVAL;
        return -1;
    }
    const size_t n = size / sizeof(spi_ioc_transfer);
    if (n == 0) return 0;  // as the kernel: an empty message does nothing
    if (chip->busError()) {
        errno = EIO;
        return -1;
    }
    const auto* transfers = static_cast<const spi_ioc_transfer*>(argument);
    std::lock_guard bus(chip->bus());
    const auto start = std::chrono::steady_clock::now();
    double busSeconds = 0;
    int total = 0;
    for (size_t i = 0; i < n; ++i) {
        const spi_ioc_transfer& t = transfers[i];
        const uint32_t speed = t.speed_hz != 0 ? t.speed_hz : maxSpeed;
        const uint8_t width = t.bits_per_word != 0 ? t.bits_per_word : bits;
        if (width != 8 || speed == 0) {
            errno = EINVAL;
            return -1;
        }
        clock(reinterpret_cast<const uint8_t*>(t.tx_buf), reinterpret_cast<uint8_t*>(t.rx_buf), t.len);
        busSeconds += 8.0 * t.len / speed + t.delay_usecs * 1e-6;
        total += static_cast<int>(t.len);
        // cs_change releases chip-select after a transfer, except after the last, where it keeps it.
        if ((t.cs_change != 0) != (i + 1 == n)) release();
    }
    // The bus is busy for the frames' clock time. A driver clocks a few bytes out with the
    // caller on the CPU; a sleep that short would cost its timer slack many times over.
    auto& freeAt = chip->busFreeAt();
    freeAt = std::max(freeAt, start) +
             std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(busSeconds));
    if (freeAt - std::chrono::steady_clock::now() > kLongestSpin)
        std::this_thread::sleep_until(freeAt);
    else
        while (std::chrono::steady_clock::now() < freeAt) {
        }
    return total;
}

void SpidevModel::clock(const uint8_t* tx, uint8_t* rx, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        if (!selected) {
            shift = chip->reply();
            selected = true;
        }
        const uint8_t out = shift[0];
        for (size_t k = 0; k + 1 < shift.size(); ++k) shift[k] = shift[k + 1];
        shift[4] = tx != nullptr ? tx[i] : 0;
        // A chip spoken to in the wrong clock mode shifts garbage: MISO reads idle.
        if (rx != nullptr) rx[i] = mode == SPI_MODE_3 ? out : 0xFF;
    }
}

void SpidevModel::release() {
    if (!selected) return;
    selected = false;
    if (mode == SPI_MODE_3) chip->execute(shift);
}

}  // namespace sim
