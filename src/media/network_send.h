// The camera's single NDI source "PTZ": announces its capabilities and sends video and audio.
#pragma once

#include <memory>
#include <string>

#include "media/captured_audio_frame.h"
#include "media/compressed_video_frame.h"
#include "platform/platform.h"

class network_send {
public:
    // The one-line capabilities element with the address of the camera's interface;
    // 0, or -1 when no socket could be had (out is then left empty).
    static int build_capabilities_xml(bool ptz_supported, std::string& out);

    // Throws "Cannot run NDI!" or "Cannot create NDI sender!".
    network_send(const std::string& config_data, const std::string& capabilities, const std::string& source_name,
                 std::shared_ptr<platform::Platform> platform = platform::installed());
    ~network_send();
    network_send(const network_send&) = delete;
    network_send& operator=(const network_send&) = delete;

    // For the callers of the library's metadata and tally calls.
    ndi::send_instance handle() const { return instance; }
    platform::NdiLibrary& library() const { return *lib; }

    // Stream index 0 full, 1 preview; called from one thread per index. The frame is held
    // until the next frame of its stream, as the library reads it after the call returns.
    void send_video(std::shared_ptr<compressed_video_frame> frame, int index);
    void send_audio(const std::shared_ptr<captured_audio_frame>& frame);

private:
    std::shared_ptr<platform::NdiLibrary> lib;
    ndi::send_instance instance = nullptr;
    std::shared_ptr<compressed_video_frame> held[2];
};
