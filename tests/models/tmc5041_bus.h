// Raw datagrams to the TMC5041 model through its spidev node, as a data-sheet reader would send them.
#pragma once

#include <linux/spi/spidev.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/app/virtual_camera.h"

class Tmc5041Bus {
public:
    explicit Tmc5041Bus(sim::VirtualCamera& camera);

    // One datagram in its own chip-select frame; returns the 5 reply bytes.
    std::array<uint8_t, 5> exchange(uint8_t address, uint32_t data);
    // The data of a reply as a 32-bit value.
    static uint32_t data(const std::array<uint8_t, 5>& reply);
    // Read through the pipeline: the value of the register.
    uint32_t read(uint8_t reg);
    void write(uint8_t reg, uint32_t value);
    // A message of several transfers with explicit cs_change flags.
    int message(std::vector<spi_ioc_transfer>& transfers);

    platform::DeviceFile& device() { return *file; }

private:
    std::unique_ptr<platform::DeviceFile> file;
};
