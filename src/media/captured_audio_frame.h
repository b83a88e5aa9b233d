// One buffer of captured audio, interleaved signed 32-bit samples (the audio capture's frame_t).
#pragma once

#include <cstdint>

struct captured_audio_frame {
    uint32_t channels = 2;
    uint32_t samples = 768;  // per channel
    uint32_t sample_rate = 48000;
    int64_t timecode = 0;
    float reference_level = 20.0f;
    uint32_t address = 0;      // offset of the buffer in the reserved region
    int32_t* data = nullptr;   // CPU view of the buffer
};
