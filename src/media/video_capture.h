// The two video capture engines: buffers from the raw window, signal following, timecoded frame pairs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "media/buffer_ring.h"
#include "media/capture_format.h"
#include "media/signal_info.h"

class hardware;
class video_compress;

class video_capture {
public:
    static constexpr uint32_t full_block = 512;
    static constexpr uint32_t preview_block = 528;
    static constexpr uint32_t no_buffer = buffer_ring::no_buffer;

    struct frame_t {
        int32_t stream = 0;  // 0 full, 1 preview
        int32_t format = 0;  // 1 = 4:2:0, otherwise 4:2:2
        int32_t block = full_block;
        int32_t width = 0, height = 0, stride = 0;
        int32_t rate_n = 0, rate_d = 0;
        int64_t timecode = 0;  // 100 ns units, set when the capture completes
        int32_t field = 2;     // 0 first field, 1 second field, 2 progressive
        uint32_t address = no_buffer;
    };

    struct frame_pair_t {
        std::shared_ptr<frame_t> full;     // always present
        std::shared_ptr<frame_t> preview;  // only on selected pairs
    };

    video_capture(std::shared_ptr<hardware> hw, std::shared_ptr<video_compress> compressor, bool full_only);
    virtual ~video_capture();
    // Wakes the thread to end without waiting for it.
    void requestStop();
    video_capture(const video_capture&) = delete;
    video_capture& operator=(const video_capture&) = delete;

    // Launches the capture thread; it waits for enable. Called once.
    virtual void start();
    void enable();
    void set_signal(const signal_info& info);
    signal_info get_signal();

    // Steps of the capture sequence; the capture thread is their only caller once started.
    void set_format(int32_t format, int32_t width, int32_t height, int32_t stride, int32_t rate_n, int32_t rate_d);
    void apply_signal(const signal_info& info);
    std::shared_ptr<frame_t> make_frame(int stream);
    std::shared_ptr<frame_pair_t> make_frame_pair();
    void arm(const frame_pair_t& pair);
    void kick(const frame_pair_t& pair);

    const capture_format& current_format() const { return geometry; }
    uint32_t get_preview_period() const { return preview_period; }
    const buffer_ring& buffers() const { return ring; }

private:
    void capture_frames();
    bool wait_for_enable();
    bool follow_signal(int64_t& seen_count);
    bool engines_idle();
    bool wait_for_capture();
    bool pause(std::chrono::milliseconds period);
    void write_modes();
    void acknowledge_engines();

    bool enabled = false;
    std::mutex enable_mutex;  // also guards the stop wake-up
    std::condition_variable enable_cv;
    signal_info signal;
    uint32_t signal_count = 0;
    std::mutex signal_mutex;
    std::atomic<bool> stop{false};
    std::shared_ptr<hardware> hw;
    std::shared_ptr<video_compress> compressor;
    std::thread thread;
    buffer_ring ring;
    capture_format geometry;
    int32_t rate_n = 60000, rate_d = 1001;
    int32_t format = 0;
    bool interlaced = false;  // of the signal last applied
    uint32_t preview_period = 2;
    uint32_t preview_count = 0;
    bool full_only;
};
