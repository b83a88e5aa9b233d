// The camera itself: UIO devices from sysfs, the real scheduler.
#pragma once

#include "platform/platform.h"

namespace platform {

class LinuxPlatform : public Platform {
public:
    std::unique_ptr<UioDevice> findUio(const std::string& name) override;
    std::unique_ptr<DeviceFile> openDevice(const std::string& absolutePath) override;
    bool setRealtimePriority(int stepDown) override;
};

}  // namespace platform
