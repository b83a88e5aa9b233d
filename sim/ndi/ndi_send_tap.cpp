// The send tap: a library that forwards each call to the real one, with a door on video sends.
#include "sim/ndi/ndi_send_tap.h"

#include <chrono>

namespace sim {

namespace {
int64_t steadyNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

class NdiSendTap::Library : public platform::NdiLibrary {
public:
    Library(NdiSendTap& tap, std::shared_ptr<platform::NdiLibrary> inner) : tap(tap), inner(std::move(inner)) {}

    bool NDIlib_initialize() override { return inner->NDIlib_initialize(); }
    void NDIlib_destroy() override { inner->NDIlib_destroy(); }
    ndi::send_instance NDIlib_send_create_v2(const ndi::send_create* create, const char* config_data) override {
        return inner->NDIlib_send_create_v2(create, config_data);
    }
    void NDIlib_send_destroy(ndi::send_instance instance) override { inner->NDIlib_send_destroy(instance); }
    void NDIlib_send_add_connection_metadata(ndi::send_instance instance, const ndi::metadata_frame* metadata) override {
        inner->NDIlib_send_add_connection_metadata(instance, metadata);
    }
    int NDIlib_send_get_target_frame_size(ndi::send_instance instance, const ndi::video_frame_v2* frame) override {
        return inner->NDIlib_send_get_target_frame_size(instance, frame);
    }
    int NDIlib_send_get_q_factor(ndi::send_instance instance, const ndi::video_frame_v2* frame) override {
        return inner->NDIlib_send_get_q_factor(instance, frame);
    }
    void NDIlib_send_send_video_async_v2(ndi::send_instance instance, const ndi::video_frame_v2* frame) override {
        tap.pass(*frame);
        inner->NDIlib_send_send_video_async_v2(instance, frame);
    }
    void NDIlib_util_send_send_audio_interleaved_32s(ndi::send_instance instance,
                                                     const ndi::audio_frame_interleaved_32s* frame) override {
        tap.pass(*frame);
        inner->NDIlib_util_send_send_audio_interleaved_32s(instance, frame);
    }
    ndi::frame_type NDIlib_send_capture(ndi::send_instance instance, ndi::metadata_frame* metadata,
                                        uint32_t timeout_ms) override {
        return inner->NDIlib_send_capture(instance, metadata, timeout_ms);
    }
    void NDIlib_send_free_metadata(ndi::send_instance instance, const ndi::metadata_frame* metadata) override {
        inner->NDIlib_send_free_metadata(instance, metadata);
    }
    bool NDIlib_send_get_tally(ndi::send_instance instance, ndi::tally* tally, uint32_t timeout_ms) override {
        return inner->NDIlib_send_get_tally(instance, tally, timeout_ms);
    }

private:
    NdiSendTap& tap;
    std::shared_ptr<platform::NdiLibrary> inner;
};

NdiSendTap::NdiSendTap(std::shared_ptr<platform::Platform> inner_)
    : inner(std::move(inner_)), library(std::make_shared<Library>(*this, inner->ndiLibrary())) {}

std::unique_ptr<platform::UioDevice> NdiSendTap::findUio(const std::string& name) { return inner->findUio(name); }

std::unique_ptr<platform::DeviceFile> NdiSendTap::openDevice(const std::string& absolutePath) {
    return inner->openDevice(absolutePath);
}

bool NdiSendTap::setRealtimePriority(int stepDown) { return inner->setRealtimePriority(stepDown); }

std::shared_ptr<platform::NdiLibrary> NdiSendTap::ndiLibrary() { return library; }

void NdiSendTap::publishStatus(const std::string& group, StatusSource source) {
    inner->publishStatus(group, std::move(source));
}

void NdiSendTap::hold() {
    std::lock_guard lock(mutex);
    held = true;
}

void NdiSendTap::release() {
    {
        std::lock_guard lock(mutex);
        held = false;
    }
    opened.notify_all();
}

int NdiSendTap::waiting() const {
    std::lock_guard lock(mutex);
    return atDoor;
}

std::vector<NdiSendTap::Send> NdiSendTap::sends() const {
    std::lock_guard lock(mutex);
    return log;
}

std::vector<NdiSendTap::AudioSend> NdiSendTap::audioSends() const {
    std::lock_guard lock(mutex);
    return {audioLog.begin(), audioLog.end()};
}

void NdiSendTap::waitAtDoor(std::unique_lock<std::mutex>& lock) {
    ++atDoor;
    opened.wait(lock, [this] { return !held; });
    --atDoor;
}

void NdiSendTap::pass(const ndi::video_frame_v2& frame) {
    std::unique_lock lock(mutex);
    waitAtDoor(lock);
    log.push_back({frame.FourCC, frame.timecode, steadyNanos(), frame.data_size_in_bytes});
}

void NdiSendTap::pass(const ndi::audio_frame_interleaved_32s& frame) {
    std::unique_lock lock(mutex);
    waitAtDoor(lock);
    AudioSend send{frame, steadyNanos(), {}};
    if (frame.p_data != nullptr && frame.no_channels > 0 && frame.no_samples > 0)
        send.samples.assign(frame.p_data, frame.p_data + size_t(frame.no_channels) * size_t(frame.no_samples));
    audioLog.push_back(std::move(send));
    if (audioLog.size() > kAudioLog) audioLog.pop_front();
}

}  // namespace sim
