// The seam between the application and the machine it runs on: the camera's
// Linux devices, or the simulator's models. Decided once, in main.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/device_file.h"
#include "platform/ndi_library.h"
#include "platform/uio_device.h"

namespace platform {

class Platform {
public:
    virtual ~Platform() = default;

    // uio_find_by_uio_name: the device whose driver name matches, or null.
    virtual std::unique_ptr<UioDevice> findUio(const std::string& name) = 0;

    // A character device (spidev, i2c-dev) by its absolute path; null with errno set when absent.
    virtual std::unique_ptr<DeviceFile> openDevice(const std::string& absolutePath) = 0;

    // SCHED_FIFO at (maximum priority - stepDown) for the calling thread.
    virtual bool setRealtimePriority(int stepDown) = 0;

    // The NDI library; one whose NDIlib_initialize fails when none can be had.
    virtual std::shared_ptr<NdiLibrary> ndiLibrary() = 0;

    // Named values an object makes observable, read whenever asked; an empty source withdraws
    // the group, and no read of it is under way once this returns. The simulator shows them
    // in its state document; the camera has no reader for them.
    using StatusSource = std::function<void(std::map<std::string, long long>& values)>;
    virtual void publishStatus(const std::string& /*group*/, StatusSource /*source*/) {}
};

// Installed once by main before any object that uses it is created.
void install(std::shared_ptr<Platform> platform);
std::shared_ptr<Platform> installed();

}  // namespace platform
