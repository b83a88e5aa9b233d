// The twelve NDI library calls the camera makes, behind the platform seam: the vendor
// runtime on the camera, the simulator's stand-in on a PC.
#pragma once

#include <cstdint>

#include "platform/ndi_types.h"

namespace platform {

// Method names are the library's own, so a call reads as it would against the runtime.
// Every method may be called from several threads at once with the same sender.
class NdiLibrary {
public:
    virtual ~NdiLibrary() = default;

    virtual bool NDIlib_initialize() = 0;
    virtual void NDIlib_destroy() = 0;

    virtual ndi::send_instance NDIlib_send_create_v2(const ndi::send_create* create, const char* config_data) = 0;
    virtual void NDIlib_send_destroy(ndi::send_instance instance) = 0;
    virtual void NDIlib_send_add_connection_metadata(ndi::send_instance instance,
                                                     const ndi::metadata_frame* metadata) = 0;

    // Bytes a compressed frame of this format should take.
    virtual int NDIlib_send_get_target_frame_size(ndi::send_instance instance, const ndi::video_frame_v2* frame) = 0;
    // Quality on a 0..100 scale for the next compressed frame; -1 when the FourCC is not SpeedHQ.
    virtual int NDIlib_send_get_q_factor(ndi::send_instance instance, const ndi::video_frame_v2* frame) = 0;

    // Returns at once; the payload must stay valid until the next frame of the same stream.
    virtual void NDIlib_send_send_video_async_v2(ndi::send_instance instance, const ndi::video_frame_v2* frame) = 0;
    // The samples have been taken when this returns.
    virtual void NDIlib_util_send_send_audio_interleaved_32s(ndi::send_instance instance,
                                                             const ndi::audio_frame_interleaved_32s* frame) = 0;

    // Metadata from a receiver within the time-out (frame_type::metadata), else another type.
    virtual ndi::frame_type NDIlib_send_capture(ndi::send_instance instance, ndi::metadata_frame* metadata,
                                                uint32_t timeout_ms) = 0;
    virtual void NDIlib_send_free_metadata(ndi::send_instance instance, const ndi::metadata_frame* metadata) = 0;
    // Fills the current tally; true when it changed within the time-out.
    virtual bool NDIlib_send_get_tally(ndi::send_instance instance, ndi::tally* tally, uint32_t timeout_ms) = 0;
};

}  // namespace platform
