// The FPGA's audio input block: a ring of buffers in the last area of reserved memory and a
// real-time thread that keeps the block fed and hands each completed buffer, timecoded, to the
// audio sender. Also measures the input's sample rate when asked.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "media/audio_ring.h"
#include "media/captured_audio_frame.h"
#include "platform/platform.h"

class hardware;
class audio_compress;

// What get_settings reports, six words in this order.
struct audio_settings {
    uint32_t valid = 0;  // 1 when the measured rate is a known one
    uint32_t control_a = 0;
    uint32_t control_b = 0;
    uint32_t channels = 0;
    uint32_t unused = 0;  // left as the caller had it
    uint32_t sample_rate = 0;  // Hz
};

class audio_capture {
public:
    using frame_t = captured_audio_frame;
    static constexpr uint32_t block = 544;

    // Starts the "audcap" thread. The platform only shows the measured rate and the sender's
    // drops to whoever watches the camera.
    audio_capture(std::shared_ptr<hardware> hw, std::shared_ptr<audio_compress> compressor,
                  std::shared_ptr<platform::Platform> platform = platform::installed());
    ~audio_capture();
    // Ends the thread at its next wake-up without waiting for it.
    void requestStop() { stop = true; }
    audio_capture(const audio_capture&) = delete;
    audio_capture& operator=(const audio_capture&) = delete;

    // The rate in Hz for a measurement in 100 Hz units; outside the known rates 48000 with valid 0.
    static uint32_t rate_for(uint32_t measured, uint32_t& valid);

    void set_volume(uint32_t value);
    // Measures the sample rate, keeps it for the frames made from now on, and reports it.
    void get_settings(audio_settings& out);

    // Steps of the capture sequence; the capture thread is their only caller once started.
    std::shared_ptr<frame_t> make_frame();
    void arm(const frame_t& frame);

private:
    void capture_frames();
    void initialise_block();
    bool wait_for_buffer();
    void measure_rate();  // under settings_mutex
    void publish_status();

    std::atomic<bool> stop{false};
    uint32_t control_a = 1;
    uint32_t control_b = 0;
    uint32_t channels = 2;
    uint32_t samples = 768;  // per channel and frame
    uint32_t sample_rate = 48000;
    uint32_t rate_valid = 0;
    std::shared_ptr<hardware> hw;
    std::shared_ptr<audio_compress> compressor;
    std::shared_ptr<platform::Platform> platform;
    std::thread thread;
    audio_ring ring;
    std::mutex settings_mutex;  // the format fields, the measured rate, the volume and the ring cursor
    uint32_t volume = 0;
    uint32_t channel_config = 0x555;
};
