// /dev/spidev32766.0 of the virtual camera: decodes the spidev ioctls as the kernel does and
// clocks each chip-select frame through the TMC5041 model, charging the bus time for real.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/device_file.h"
#include "sim/motion/tmc5041_model.h"

namespace sim {

class SpidevModel : public platform::DeviceFile {
public:
    explicit SpidevModel(std::shared_ptr<Tmc5041Model> chip);
    int ioctl(unsigned long request, void* argument) override;
    int descriptor() const override { return number; }

private:
    int message(size_t size, void* argument);
    void clock(const uint8_t* tx, uint8_t* rx, uint32_t length);
    void release();

    std::shared_ptr<Tmc5041Model> chip;
    int number;
    uint8_t mode = 0;
    uint8_t bits = 8;
    uint32_t maxSpeed = 500000;
    // The chip's 40-bit shift register while chip-select is asserted.
    bool selected = false;
    std::array<uint8_t, 5> shift{};
};

}  // namespace sim
