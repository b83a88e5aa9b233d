#include "platform/linux_platform.h"

#include "platform/fifo_schedule.h"
#include "platform/linux_uio.h"

namespace platform {

std::unique_ptr<UioDevice> LinuxPlatform::findUio(const std::string& name) { return findLinuxUio(name); }

bool LinuxPlatform::setRealtimePriority(int stepDown) {
    return platform::fifoSchedule(stepDown);
}

}  // namespace platform
