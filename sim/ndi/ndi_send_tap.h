// A platform decorator for observers of the video send path: forwards everything to the
// simulator's platform, timestamps every video send and can hold the senders at the send call.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace sim {

class NdiSendTap : public platform::Platform {
public:
    struct Send {
        uint32_t fourcc = 0;
        int64_t timecode = 0;
        int64_t steadyNanos = 0;  // steady clock when the send call was made
        int size = 0;
    };

    explicit NdiSendTap(std::shared_ptr<platform::Platform> inner);

    std::unique_ptr<platform::UioDevice> findUio(const std::string& name) override;
    std::unique_ptr<platform::DeviceFile> openDevice(const std::string& absolutePath) override;
    bool setRealtimePriority(int stepDown) override;
    std::shared_ptr<platform::NdiLibrary> ndiLibrary() override;
    void publishStatus(const std::string& group, StatusSource source) override;

    // While held, video send calls wait at the door (they are recorded once let through).
    void hold();
    void release();
    // Send calls waiting at the door now.
    int waiting() const;
    std::vector<Send> sends() const;

private:
    class Library;
    friend class Library;
    void pass(const ndi::video_frame_v2& frame);

    std::shared_ptr<platform::Platform> inner;
    std::shared_ptr<Library> library;
    mutable std::mutex mutex;
    std::condition_variable opened;
    bool held = false;
    int atDoor = 0;
    std::vector<Send> log;
};

}  // namespace sim
