// An i2c-dev node of the simulator: decodes the driver's ioctl structures (I2C_RDWR, I2C_FUNCS)
// and passes each message to the chip at its address.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "sim/status/i2c_target.h"
#include "platform/device_file.h"

namespace sim {

class I2cBusDevice : public platform::DeviceFile {
public:
    explicit I2cBusDevice(std::map<uint16_t, std::shared_ptr<I2cTarget>> targets) : chips(std::move(targets)) {}
    int ioctl(unsigned long request, void* argument) override;

private:
    int transfer(void* argument);

    std::map<uint16_t, std::shared_ptr<I2cTarget>> chips;
};

}  // namespace sim
