#include "motion/eeprom_device.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/log.h"
#include "platform/device_path.h"

eepromDevice::~eepromDevice() {
    std::lock_guard lock(mutex);
    if (fd >= 0) ::close(fd);
}

bool eepromDevice::open(const std::string& path) {
    if (isOpen()) close();
    logAt(5, "Device %s: opening\n", path.c_str());
    const int opened = ::open(platform::devicePath(path).c_str(), O_RDWR | O_CLOEXEC);
    if (opened < 0) {
        logAt(2, "eepromDevice %s: opening: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    std::lock_guard lock(mutex);
    fd = opened;
    return true;
}

bool eepromDevice::close() {
    std::lock_guard lock(mutex);
    logAt(5, "EEPROM Shutting down existing device with file descriptor %d\n", fd);
    if (fd >= 0) ::close(fd);
    fd = -1;
    return true;
}

bool eepromDevice::isOpen() const {
    std::lock_guard lock(mutex);
    return fd >= 0;
}

int eepromDevice::read(long offset, void* buf, size_t n) {
    std::lock_guard lock(mutex);
    if (fd < 0) {
        logAt(2, "eepromDevice read: %s\n", std::strerror(EBADF));
        return 0;
    }
    if (lseek(fd, offset, SEEK_SET) < 0) return -1;
    return static_cast<int>(::read(fd, buf, n));
}

int eepromDevice::write(long offset, const void* buf, size_t n) {
    std::lock_guard lock(mutex);
    if (fd < 0) {
        logAt(2, "eepromDevice write: %s\n", std::strerror(EBADF));
        return 0;
    }
    if (lseek(fd, offset, SEEK_SET) < 0) return -1;
    return static_cast<int>(::write(fd, buf, n));
}
