// Our own declarations of the NDI library's records, laid out as the binary runtime expects them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ndi {

// Opaque sender handle.
struct send_instance_type;
using send_instance = send_instance_type*;

// The library's enums are 32 bits wide.
enum class frame_type : int32_t { none = 0, video = 1, audio = 2, metadata = 3, error = 4, status_change = 100 };

enum class frame_format : int32_t { interleaved = 0, progressive = 1, field_0 = 2, field_1 = 3 };

constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t fourcc_SHQ0 = fourcc('S', 'H', 'Q', '0');
constexpr uint32_t fourcc_SHQ2 = fourcc('S', 'H', 'Q', '2');
constexpr uint32_t fourcc_shq0 = fourcc('s', 'h', 'q', '0');
constexpr uint32_t fourcc_shq2 = fourcc('s', 'h', 'q', '2');

constexpr int64_t timecode_synthesize = INT64_MAX;

struct video_frame_v2 {
    int xres = 0;
    int yres = 0;
    uint32_t FourCC = 0;
    int frame_rate_N = 0;
    int frame_rate_D = 1;
    float picture_aspect_ratio = 0.0f;
    frame_format frame_format_type = frame_format::progressive;
    int64_t timecode = timecode_synthesize;
    uint8_t* p_data = nullptr;
    union {
        int line_stride_in_bytes;
        int data_size_in_bytes;  // compressed FourCCs: the payload length
    };
    const char* p_metadata = nullptr;
    int64_t timestamp = 0;

    video_frame_v2() : line_stride_in_bytes(0) {}
};

struct audio_frame_interleaved_32s {
    int sample_rate = 0;
    int no_channels = 0;
    int no_samples = 0;
    int64_t timecode = timecode_synthesize;
    int reference_level = 0;
    int32_t* p_data = nullptr;
};

struct metadata_frame {
    int length = 0;  // 0: the library measures the text
    int64_t timecode = timecode_synthesize;
    char* p_data = nullptr;
};

struct tally {
    bool on_program = false;
    bool on_preview = false;
};

struct send_create {
    const char* p_ndi_name = nullptr;
    const char* p_groups = nullptr;
    bool clock_video = false;
    bool clock_audio = false;
};

// The runtime is a binary: any drift in these layouts corrupts every call.
#if UINTPTR_MAX == UINT64_MAX
static_assert(sizeof(video_frame_v2) == 72);
static_assert(offsetof(video_frame_v2, frame_format_type) == 24);
static_assert(offsetof(video_frame_v2, timecode) == 32);
static_assert(offsetof(video_frame_v2, p_data) == 40);
static_assert(offsetof(video_frame_v2, line_stride_in_bytes) == 48);
static_assert(offsetof(video_frame_v2, p_metadata) == 56);
static_assert(offsetof(video_frame_v2, timestamp) == 64);
static_assert(sizeof(audio_frame_interleaved_32s) == 40);
static_assert(offsetof(audio_frame_interleaved_32s, timecode) == 16);
static_assert(offsetof(audio_frame_interleaved_32s, reference_level) == 24);
static_assert(offsetof(audio_frame_interleaved_32s, p_data) == 32);
static_assert(sizeof(metadata_frame) == 24);
static_assert(offsetof(metadata_frame, p_data) == 16);
static_assert(sizeof(send_create) == 24);
static_assert(offsetof(send_create, clock_audio) == 17);
#else
// 32-bit ARM EABI: 64-bit members are 8-aligned, pointers 4 bytes.
static_assert(sizeof(video_frame_v2) == 64);
static_assert(offsetof(video_frame_v2, timecode) == 32);
static_assert(offsetof(video_frame_v2, p_data) == 40);
static_assert(offsetof(video_frame_v2, timestamp) == 56);
static_assert(sizeof(audio_frame_interleaved_32s) == 32);
static_assert(offsetof(audio_frame_interleaved_32s, p_data) == 28);
static_assert(sizeof(metadata_frame) == 24);
static_assert(sizeof(send_create) == 12);
#endif
static_assert(offsetof(video_frame_v2, FourCC) == 8);
static_assert(offsetof(video_frame_v2, picture_aspect_ratio) == 20);
static_assert(sizeof(tally) == 2 && offsetof(tally, on_preview) == 1);
static_assert(sizeof(frame_type) == 4 && sizeof(frame_format) == 4);

}  // namespace ndi
