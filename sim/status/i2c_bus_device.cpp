// The i2c-dev ioctl decoding.
#include "sim/status/i2c_bus_device.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>
#include <set>

namespace sim {

int I2cBusDevice::ioctl(unsigned long request, void* argument) {
    if (request == I2C_RDWR) return transfer(argument);
    if (request == I2C_FUNCS && argument != nullptr) {
        *static_cast<unsigned long*>(argument) = I2C_FUNC_I2C | I2C_FUNC_NOSTART;
        return 0;
    }
    errno = ENOTTY;
    return -1;
}

int I2cBusDevice::transfer(void* argument) {
    auto* data = static_cast<i2c_rdwr_ioctl_data*>(argument);
    if (data == nullptr || data->msgs == nullptr || data->nmsgs == 0 || data->nmsgs > I2C_RDWR_IOCTL_MAX_MSGS) {
        errno = EINVAL;
        return -1;
    }
    std::set<I2cTarget*> begun;
    for (uint32_t i = 0; i < data->nmsgs; ++i) {
        const i2c_msg& m = data->msgs[i];
        if (m.len > 0 && m.buf == nullptr) {
            errno = EFAULT;
            return -1;
        }
        const auto chip = chips.find(m.addr);
        if (chip == chips.end()) {
            errno = ENXIO;  // nobody acknowledged the address
            return -1;
        }
        I2cTarget* target = chip->second.get();
        if (begun.insert(target).second && !target->beginTransfer()) {
            errno = EREMOTEIO;
            return -1;
        }
        const bool acked = (m.flags & I2C_M_RD) ? target->i2cRead(m.buf, m.len) : target->i2cWrite(m.buf, m.len);
        if (!acked) {
            errno = EREMOTEIO;
            return -1;
        }
    }
    return static_cast<int>(data->nmsgs);
}

}  // namespace sim
