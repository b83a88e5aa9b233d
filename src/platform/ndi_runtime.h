// The vendor's NDI runtime (libndi.so.5), opened at run time and resolved call by call.
#pragma once

#include <memory>
#include <string>

#include "platform/ndi_library.h"

namespace platform {

class NdiRuntime : public NdiLibrary {
public:
    static constexpr const char* kFileName = "libndi.so.5";

    // Opens the library at `path` (a bare file name uses the dynamic loader's search) and
    // resolves every call; null with `error` set when the file or any call is missing.
    static std::shared_ptr<NdiRuntime> load(const std::string& path, std::string& error);

    // NDI_RUNTIME_DIR_V5 first, then the dynamic loader's search, then /usr/local/lib and /usr/lib.
    static std::shared_ptr<NdiRuntime> find(std::string& error);

    ~NdiRuntime() override;
    NdiRuntime(const NdiRuntime&) = delete;
    NdiRuntime& operator=(const NdiRuntime&) = delete;

    const std::string& path() const { return file; }

    bool NDIlib_initialize() override;
    void NDIlib_destroy() override;
    ndi::send_instance NDIlib_send_create_v2(const ndi::send_create* create, const char* config_data) override;
    void NDIlib_send_destroy(ndi::send_instance instance) override;
    void NDIlib_send_add_connection_metadata(ndi::send_instance instance, const ndi::metadata_frame* metadata) override;
    int NDIlib_send_get_target_frame_size(ndi::send_instance instance, const ndi::video_frame_v2* frame) override;
    int NDIlib_send_get_q_factor(ndi::send_instance instance, const ndi::video_frame_v2* frame) override;
    void NDIlib_send_send_video_async_v2(ndi::send_instance instance, const ndi::video_frame_v2* frame) override;
    void NDIlib_util_send_send_audio_interleaved_32s(ndi::send_instance instance,
                                                     const ndi::audio_frame_interleaved_32s* frame) override;
    ndi::frame_type NDIlib_send_capture(ndi::send_instance instance, ndi::metadata_frame* metadata,
                                        uint32_t timeout_ms) override;
    void NDIlib_send_free_metadata(ndi::send_instance instance, const ndi::metadata_frame* metadata) override;
    bool NDIlib_send_get_tally(ndi::send_instance instance, ndi::tally* tally, uint32_t timeout_ms) override;

private:
    struct Calls;
    struct Token {
        explicit Token() = default;
    };
    // `opened` tells a missing file from a file that lacks calls.
    static std::shared_ptr<NdiRuntime> open(const std::string& path, std::string& error, bool& opened);

public:
    NdiRuntime(Token, void* handle, std::string path, std::unique_ptr<Calls> calls);

private:

    void* handle;
    std::string file;
    std::unique_ptr<Calls> calls;
};

}  // namespace platform
