// The camera itself: UIO devices from sysfs, the real scheduler, the vendor's NDI runtime.
#pragma once

#include <mutex>

#include "platform/platform.h"

namespace platform {

class LinuxPlatform : public Platform {
public:
    std::unique_ptr<UioDevice> findUio(const std::string& name) override;
    std::unique_ptr<DeviceFile> openDevice(const std::string& absolutePath) override;
    bool setRealtimePriority(int stepDown) override;
    // The vendor runtime, loaded on first use and kept for the process.
    std::shared_ptr<NdiLibrary> ndiLibrary() override;

private:
    std::mutex ndiMutex;
    std::shared_ptr<NdiLibrary> ndi;
};

}  // namespace platform
