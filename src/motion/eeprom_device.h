// eepromDevice: the preset EEPROM behind the at24 driver's sysfs file, read and written in place.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

class eepromDevice {
public:
    static constexpr const char* kPath = "/sys/bus/i2c/drivers/at24/0-0050/eeprom";

    eepromDevice() = default;
    ~eepromDevice();
    eepromDevice(const eepromDevice&) = delete;
    eepromDevice& operator=(const eepromDevice&) = delete;

    // path: absolute, resolved under the device root. Closes an open descriptor first.
    bool open(const std::string& path);
    bool close();
    // Seek, then one read or write: its result; 0 (logged) on a closed device.
    int read(long offset, void* buf, size_t n);
    int write(long offset, const void* buf, size_t n);
    bool isOpen() const;

private:
    // The queue thread and a zoom restart on the VISCA thread share the descriptor:
    // each seek stays with its transfer.
    mutable std::mutex mutex;
    int fd = -1;
};
