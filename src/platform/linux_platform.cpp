#include "platform/linux_platform.h"

#include "platform/fifo_schedule.h"
#include "platform/linux_device_file.h"
#include "platform/linux_uio.h"

namespace platform {

std::unique_ptr<UioDevice> LinuxPlatform::findUio(const std::string& name) { return findLinuxUio(name); }

std::unique_ptr<DeviceFile> LinuxPlatform::openDevice(const std::string& absolutePath) {
    return LinuxDeviceFile::open(absolutePath);
}

bool LinuxPlatform::setRealtimePriority(int stepDown) {
    return platform::fifoSchedule(stepDown);
}

}  // namespace platform
