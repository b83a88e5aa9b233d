#include "platform/linux_device_file.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/device_path.h"

namespace platform {

std::unique_ptr<DeviceFile> LinuxDeviceFile::open(const std::string& absolutePath) {
    const int fd = ::open(devicePath(absolutePath).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<LinuxDeviceFile>(fd);
}

LinuxDeviceFile::~LinuxDeviceFile() { ::close(fd); }

int LinuxDeviceFile::ioctl(unsigned long request, void* argument) { return ::ioctl(fd, request, argument); }

}  // namespace platform
