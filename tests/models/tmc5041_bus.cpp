#include "models/tmc5041_bus.h"

#include <cstring>
#include <stdexcept>

Tmc5041Bus::Tmc5041Bus(sim::VirtualCamera& camera) : file(camera.platform()->openDevice("/dev/spidev32766.0")) {
    if (!file) throw std::runtime_error("no spidev");
    uint8_t mode = SPI_MODE_3;
    file->ioctl(SPI_IOC_WR_MODE, &mode);
}

std::array<uint8_t, 5> Tmc5041Bus::exchange(uint8_t address, uint32_t value) {
    std::array<uint8_t, 5> tx = {address, uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8),
                                 uint8_t(value)};
    std::array<uint8_t, 5> rx{};
    std::vector<spi_ioc_transfer> t(1);
    std::memset(t.data(), 0, sizeof(spi_ioc_transfer));
    t[0].tx_buf = reinterpret_cast<uintptr_t>(tx.data());
    t[0].rx_buf = reinterpret_cast<uintptr_t>(rx.data());
    t[0].len = 5;
    t[0].speed_hz = 4000000;
    message(t);
    return rx;
}

uint32_t Tmc5041Bus::data(const std::array<uint8_t, 5>& r) {
    return uint32_t(r[1]) << 24 | uint32_t(r[2]) << 16 | uint32_t(r[3]) << 8 | r[4];
}

uint32_t Tmc5041Bus::read(uint8_t reg) {
    exchange(reg, 0);
    return data(exchange(reg, 0));
}

void Tmc5041Bus::write(uint8_t reg, uint32_t value) { exchange(static_cast<uint8_t>(reg | 0x80), value); }

int Tmc5041Bus::message(std::vector<spi_ioc_transfer>& transfers) {
    const unsigned long request =
        _IOC(_IOC_WRITE, SPI_IOC_MAGIC, 0, transfers.size() * sizeof(spi_ioc_transfer) < (1u << _IOC_SIZEBITS)
                                               ? transfers.size() * sizeof(spi_ioc_transfer)
                                               : 0);
    return file->ioctl(request, transfers.data());
}
