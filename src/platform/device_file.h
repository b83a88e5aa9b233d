// An opened character device spoken to through ioctl: spidev and i2c-dev.
#pragma once

namespace platform {

class DeviceFile {
public:
    virtual ~DeviceFile() = default;
    // As ioctl(2): the request's result, or -1 with errno set.
    virtual int ioctl(unsigned long request, void* argument) = 0;
    // The descriptor number, for traces only.
    virtual int descriptor() const { return -1; }
};

}  // namespace platform
