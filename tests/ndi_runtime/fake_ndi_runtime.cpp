// A runtime of our own in place of libndi.so.5, for the loader tests. Each call leaves a
// trace that only that call leaves, so a call resolved to the wrong symbol shows.
#include <cstdint>
#include <string>

#include "platform/ndi_types.h"

namespace {
struct FakeSender {
    std::string journal;  // what the void calls were given, read back through NDIlib_send_capture
    std::string text;
};
FakeSender sender;
int initialised = 0;
}  // namespace

extern "C" {

__attribute__((visibility("default"))) bool NDIlib_initialize() {
    ++initialised;
    return true;
}

__attribute__((visibility("default"))) void NDIlib_destroy() { --initialised; }

__attribute__((visibility("default"))) ndi::send_instance NDIlib_send_create_v2(const ndi::send_create* create,
                                                                                 const char* config) {
    sender = FakeSender{};
    sender.journal = std::string("create ") + create->p_ndi_name + " " + config + " " +
                     std::to_string(initialised) + (create->clock_video ? " cv" : "") +
                     (create->clock_audio ? " ca" : "") + ";";
    return reinterpret_cast<ndi::send_instance>(&sender);
}

__attribute__((visibility("default"))) void NDIlib_send_destroy(ndi::send_instance) { sender.journal += "destroy;"; }

__attribute__((visibility("default"))) void NDIlib_send_add_connection_metadata(ndi::send_instance,
                                                                                const ndi::metadata_frame* m) {
    sender.journal += std::string("meta ") + m->p_data + " " + std::to_string(m->length) +
                      (m->timecode == INT64_MAX ? " synth" : "") + ";";
}

__attribute__((visibility("default"))) int NDIlib_send_get_target_frame_size(ndi::send_instance,
                                                                              const ndi::video_frame_v2* f) {
    return f->xres * f->yres;
}

__attribute__((visibility("default"))) int NDIlib_send_get_q_factor(ndi::send_instance,
                                                                     const ndi::video_frame_v2* f) {
    return f->frame_rate_N / f->frame_rate_D;
}

__attribute__((visibility("default"))) void NDIlib_send_send_video_async_v2(ndi::send_instance,
                                                                            const ndi::video_frame_v2* f) {
    sender.journal += "video " + std::to_string(f->data_size_in_bytes) + " " + std::to_string(f->timestamp) + ";";
}

__attribute__((visibility("default"))) void NDIlib_util_send_send_audio_interleaved_32s(
    ndi::send_instance, const ndi::audio_frame_interleaved_32s* a) {
    sender.journal += "audio " + std::to_string(a->no_samples) + " " + std::to_string(a->p_data[0]) + ";";
}

__attribute__((visibility("default"))) ndi::frame_type NDIlib_send_capture(ndi::send_instance,
                                                                            ndi::metadata_frame* m, uint32_t timeout) {
    sender.text = sender.journal + "timeout " + std::to_string(timeout);
    m->p_data = sender.text.data();
    m->length = int(sender.text.size());
    return ndi::frame_type::metadata;
}

__attribute__((visibility("default"))) void NDIlib_send_free_metadata(ndi::send_instance,
                                                                      const ndi::metadata_frame* m) {
    if (m->p_data == sender.text.data()) sender.journal += "free;";
}

#ifndef FAKE_NDI_WITHOUT_TALLY
__attribute__((visibility("default"))) bool NDIlib_send_get_tally(ndi::send_instance, ndi::tally* t,
                                                                  uint32_t timeout) {
    t->on_program = timeout % 2 == 1;
    t->on_preview = true;
    return timeout > 100;
}
#endif
}
