#include "platform/linux_platform.h"

#include "base/log.h"
#include "platform/fifo_schedule.h"
#include "platform/linux_device_file.h"
#include "platform/linux_uio.h"
#include "platform/ndi_runtime.h"
#include "platform/ndi_unavailable.h"

namespace platform {

std::unique_ptr<UioDevice> LinuxPlatform::findUio(const std::string& name) { return findLinuxUio(name); }

std::unique_ptr<DeviceFile> LinuxPlatform::openDevice(const std::string& absolutePath) {
    return LinuxDeviceFile::open(absolutePath);
}

bool LinuxPlatform::setRealtimePriority(int stepDown) {
    return platform::fifoSchedule(stepDown);
}

std::shared_ptr<NdiLibrary> LinuxPlatform::ndiLibrary() {
    std::lock_guard lock(ndiMutex);
    if (ndi) return ndi;
    std::string error;
    if (auto runtime = NdiRuntime::find(error)) {
        logAt(4, "NDI runtime: %s\n", runtime->path().c_str());
        ndi = std::move(runtime);
    } else {
        logAt(2, "NDI runtime: %s\n", error.c_str());
        ndi = std::make_shared<NdiUnavailable>(error);
    }
    return ndi;
}

}  // namespace platform
