// The NDI library when no runtime could be loaded: initialisation fails, so nothing is sent.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "platform/ndi_library.h"

namespace platform {

class NdiUnavailable : public NdiLibrary {
public:
    explicit NdiUnavailable(std::string reason) : why(std::move(reason)) {}

    const std::string& reason() const { return why; }

    bool NDIlib_initialize() override { return false; }
    void NDIlib_destroy() override {}
    ndi::send_instance NDIlib_send_create_v2(const ndi::send_create*, const char*) override { return nullptr; }
    void NDIlib_send_destroy(ndi::send_instance) override {}
    void NDIlib_send_add_connection_metadata(ndi::send_instance, const ndi::metadata_frame*) override {}
    int NDIlib_send_get_target_frame_size(ndi::send_instance, const ndi::video_frame_v2*) override { return 0; }
    int NDIlib_send_get_q_factor(ndi::send_instance, const ndi::video_frame_v2*) override { return -1; }
    void NDIlib_send_send_video_async_v2(ndi::send_instance, const ndi::video_frame_v2*) override {}
    void NDIlib_util_send_send_audio_interleaved_32s(ndi::send_instance,
                                                     const ndi::audio_frame_interleaved_32s*) override {}
    // The waits still take their time-out, so a polling thread cannot spin.
    ndi::frame_type NDIlib_send_capture(ndi::send_instance, ndi::metadata_frame*, uint32_t timeout_ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
        return ndi::frame_type::none;
    }
    void NDIlib_send_free_metadata(ndi::send_instance, const ndi::metadata_frame*) override {}
    bool NDIlib_send_get_tally(ndi::send_instance, ndi::tally*, uint32_t timeout_ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
        return false;
    }

private:
    std::string why;
};

}  // namespace platform
