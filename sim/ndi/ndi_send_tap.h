// A platform decorator for observers of the send paths: forwards everything to the simulator's
// platform, timestamps every video and audio send and can hold the senders at the send call.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
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

    struct AudioSend {
        ndi::audio_frame_interleaved_32s frame{};  // as handed over; p_data is the sender's buffer
        int64_t steadyNanos = 0;
        std::vector<int32_t> samples;  // copied during the call
    };
    static constexpr size_t kAudioLog = 4096;  // the latest audio sends kept

    explicit NdiSendTap(std::shared_ptr<platform::Platform> inner);

    std::unique_ptr<platform::UioDevice> findUio(const std::string& name) override;
    std::unique_ptr<platform::DeviceFile> openDevice(const std::string& absolutePath) override;
    bool setRealtimePriority(int stepDown) override;
    std::shared_ptr<platform::NdiLibrary> ndiLibrary() override;
    void publishStatus(const std::string& group, StatusSource source) override;

    // While held, video and audio send calls wait at the door (they are recorded once let through).
    void hold();
    void release();
    // Send calls waiting at the door now.
    int waiting() const;
    std::vector<Send> sends() const;
    std::vector<AudioSend> audioSends() const;

private:
    class Library;
    friend class Library;
    void pass(const ndi::video_frame_v2& frame);
    void pass(const ndi::audio_frame_interleaved_32s& frame);
    void waitAtDoor(std::unique_lock<std::mutex>& lock);

    std::shared_ptr<platform::Platform> inner;
    std::shared_ptr<Library> library;
    mutable std::mutex mutex;
    std::condition_variable opened;
    bool held = false;
    int atDoor = 0;
    std::vector<Send> log;
    std::deque<AudioSend> audioLog;
};

}  // namespace sim
