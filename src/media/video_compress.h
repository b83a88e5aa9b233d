// SpeedHQ compression on the FPGA's encoder cores and the threads that copy the result out and
// hand it to the NDI sender.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "media/compressed_video_frame.h"
#include "media/output_ring.h"
#include "media/quality_slots.h"
#include "media/video_capture.h"

class hardware;
class network_send;

class video_compress {
public:
    using frame_t = compressed_video_frame;
    static constexpr uint32_t block = 0;  // the encoder cores' register block
    static constexpr size_t queue_limit = 4;  // a queue reaching this many drops its oldest

    // Drops per queue since construction (the marks '!', '@', '#', '$').
    struct drop_counts {
        uint64_t capture = 0, copy = 0, full = 0, preview = 0;
    };

    video_compress(std::shared_ptr<hardware> hw, std::shared_ptr<network_send> sender);
    ~video_compress();
    video_compress(const video_compress&) = delete;
    video_compress& operator=(const video_compress&) = delete;

    void enable();
    // Called by the capture thread for every completed pair; pairs before enable are discarded.
    bool push(std::shared_ptr<video_capture::frame_pair_t> pair);

    int core_count() const { return cores; }
    drop_counts drops() const;
    // What the capture handed over since enable: pairs, pairs with a preview, and the latest.
    uint64_t pairs_received() const;
    uint64_t previews_received() const;
    std::shared_ptr<video_capture::frame_pair_t> latest_pair() const;

private:
    void compress_frames();
    void copy_frames();
    void send_frames(int index);
    void set_up_cores();
    bool wait_for_cores();
    std::shared_ptr<frame_t> prepare(const video_capture::frame_t& captured);
    void query_target_size(int s, const video_capture::frame_t& captured, uint32_t fourcc);
    void set_quality(frame_t& frame, int q);
    void load_table(int slot, int q);
    void program_cores(const frame_t& frame, uint32_t source);
    void start_cores();
    int collect(frame_t& frame);
    // Drops a pair that is done; returns the preview copy of `done` when the preview has no picture.
    std::shared_ptr<frame_t> finish_pair(std::shared_ptr<video_capture::frame_pair_t>& pair, const frame_t& done,
                                         bool whole);
    void queue_for_send(std::shared_ptr<frame_t> frame);
    void dispatch(std::shared_ptr<frame_t> frame);
    void enqueue_stop(std::shared_ptr<video_capture::frame_pair_t> pair);
    void count_cores();

    std::shared_ptr<hardware> hw;
    std::shared_ptr<network_send> sender;
    std::thread compress_thread, copy_thread, full_thread, preview_thread;

    mutable std::mutex capture_mutex;
    std::condition_variable capture_cv;
    std::deque<std::shared_ptr<video_capture::frame_pair_t>> capture_queue;
    bool enabled = false;

    std::mutex copy_mutex;
    std::condition_variable copy_cv;
    std::deque<std::shared_ptr<frame_t>> copy_queue;

    std::mutex full_mutex, preview_mutex;
    std::condition_variable full_cv, preview_cv;
    std::deque<std::shared_ptr<frame_t>> full_queue, preview_queue;

    // Only the compress thread touches what follows, up to the counters.
    output_ring out;
    quality_slots slots;
    struct stream_state {
        int32_t width = 0, height = 0, rate_n = 0, rate_d = 0;
        int target_size = 0;
        int stream_quality = 99;
    };
    std::array<stream_state, 2> streams{};
    int cores = 1;

    std::atomic<bool> stopping{false};  // ends an interrupt wait that would never return
    std::atomic<uint64_t> dropped_capture{0}, dropped_copy{0}, dropped_full{0}, dropped_preview{0};
    uint64_t pairs = 0, previews = 0;  // under capture_mutex
    std::shared_ptr<video_capture::frame_pair_t> latest;
};
