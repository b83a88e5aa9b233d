// The tracking input: decodes the FPGA's signal measurement and hands it to the video capture.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "media/signal_info.h"

class hardware;
class video_capture;
class audio_capture;

class track {
public:
    static constexpr uint32_t block = 560;

    track(std::shared_ptr<hardware> hw, std::shared_ptr<video_capture> capture, std::shared_ptr<audio_capture> audio);
    ~track();
    // Ends the thread at its next wake-up (within 100 ms) without waiting for it.
    void requestStop() { running = 0; }
    track(const track&) = delete;
    track& operator=(const track&) = delete;

    // Register 0 of the tracking block as a signal record.
    static signal_info decode(uint32_t value);
    // Frames per second as printed: numerator / denominator, 0 for a record never written.
    static int integer_rate(const signal_info& info);

    void read_signal();
    // Outputs are left untouched when there is no video capture.
    void get_video_summary(int& width, int& height, int& interlaced, int& rate);
    // Output left untouched when there is no audio capture.
    void get_audio_rate(int& rate);

private:
    void run();
    void refresh_audio_rate();

    std::shared_ptr<hardware> hw;
    [[maybe_unused]] uint8_t platform_id;  // kept for the platforms that will need it
    std::shared_ptr<video_capture> capture;
    std::shared_ptr<audio_capture> audio;
    std::thread thread;
    std::atomic<uint8_t> running{1};
};
