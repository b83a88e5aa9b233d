// A character device node of the camera, opened read-write.
#pragma once

#include <memory>
#include <string>

#include "platform/device_file.h"

namespace platform {

class LinuxDeviceFile : public DeviceFile {
public:
    // Null (errno set) when the node cannot be opened.
    static std::unique_ptr<DeviceFile> open(const std::string& absolutePath);
    explicit LinuxDeviceFile(int fd) : fd(fd) {}
    ~LinuxDeviceFile() override;
    LinuxDeviceFile(const LinuxDeviceFile&) = delete;
    LinuxDeviceFile& operator=(const LinuxDeviceFile&) = delete;

    int ioctl(unsigned long request, void* argument) override;
    int descriptor() const override { return fd; }

private:
    int fd;
};

}  // namespace platform
