// A chip on a simulated I2C bus, as the i2c-dev driver's messages reach it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

class I2cTarget {
public:
    virtual ~I2cTarget() = default;
    // Once per ioctl: false makes the whole transfer fail (an injected bus fault).
    virtual bool beginTransfer() = 0;
    // One message each; false is a NACK.
    virtual bool i2cWrite(const uint8_t* data, size_t length) = 0;
    virtual bool i2cRead(uint8_t* data, size_t length) = 0;
};

}  // namespace sim
