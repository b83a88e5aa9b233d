// Life of the NDI sender and the frame descriptors it hands to the library.
#include "media/network_send.h"

#include <cstdio>
#include <stdexcept>

#include "base/log.h"

network_send::network_send(const std::string& config_data, const std::string& capabilities,
                           const std::string& source_name, std::shared_ptr<platform::Platform> platform)
    : lib(platform->ndiLibrary()) {
    logAt(4, "network_send Constructor\n");
    if (!lib->NDIlib_initialize()) throw std::runtime_error("Cannot run NDI!");

    ndi::send_create create;
    create.p_ndi_name = source_name.c_str();
    create.p_groups = nullptr;
    create.clock_video = false;
    create.clock_audio = false;
    instance = lib->NDIlib_send_create_v2(&create, config_data.c_str());
    if (instance == nullptr) {
        lib->NDIlib_destroy();  // the destructor will not run: balance the initialisation here
        throw std::runtime_error("Cannot create NDI sender!");
    }

    // No text when the capabilities could not be built: an empty element would announce nothing.
    if (capabilities.empty()) return;
    ndi::metadata_frame metadata;
    metadata.length = 0;
    metadata.timecode = ndi::timecode_synthesize;
    metadata.p_data = const_cast<char*>(capabilities.c_str());  // the library only reads it
    lib->NDIlib_send_add_connection_metadata(instance, &metadata);
}

network_send::~network_send() {
    logAt(4, "network_send Destructor\n");
    lib->NDIlib_send_destroy(instance);
    lib->NDIlib_destroy();
    // Only now may the last payloads go: the library read them until the sender was destroyed.
    held[0].reset();
    held[1].reset();
}

void network_send::send_video(std::shared_ptr<compressed_video_frame> frame, int index) {
    if (instance == nullptr || !frame || index < 0 || index > 1) return;
    ndi::video_frame_v2 video;
    video.xres = frame->width;
    video.yres = frame->height;
    video.FourCC = frame->fourcc;
    video.frame_rate_N = frame->rate_n;
    video.frame_rate_D = frame->rate_d;
    video.picture_aspect_ratio = 16.0f / 9.0f;
    video.frame_format_type = frame->field == 0   ? ndi::frame_format::field_0
                              : frame->field == 1 ? ndi::frame_format::field_1
                                                  : ndi::frame_format::progressive;
    video.timecode = frame->timecode;
    video.p_data = frame->data.get();
    video.data_size_in_bytes = frame->data ? int(frame->size) : 0;
    video.p_metadata = nullptr;
    video.timestamp = frame->timecode;
    lib->NDIlib_send_send_video_async_v2(instance, &video);
    held[index] = std::move(frame);  // releases the frame this stream sent before
}

void network_send::send_audio(const std::shared_ptr<captured_audio_frame>& frame) {
    if (instance == nullptr || !frame) return;
    ndi::audio_frame_interleaved_32s audio;
    audio.sample_rate = int(frame->sample_rate);
    audio.no_channels = int(frame->channels);
    audio.no_samples = int(frame->samples);
    audio.timecode = frame->timecode;
    audio.reference_level = int(frame->reference_level);
    audio.p_data = frame->data;
    lib->NDIlib_util_send_send_audio_interleaved_32s(instance, &audio);
}
