// The audio sender: takes the frames the capture thread completes and sends them on the NDI
// source from its own thread, "audcomp", through a short queue that drops its oldest frames.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "media/captured_audio_frame.h"

class hardware;
class network_send;

class audio_compress {
public:
    static constexpr size_t queue_limit = 4;  // a push that brings the queue to this many drops the oldest

    audio_compress(std::shared_ptr<hardware> hw, std::shared_ptr<network_send> network);
    ~audio_compress();
    audio_compress(const audio_compress&) = delete;
    audio_compress& operator=(const audio_compress&) = delete;

    // Frames are accepted from now on; there is no disable.
    void enable();
    // Queues a frame for sending; an empty one is the end marker, which ends the sending thread.
    // Frames pushed before enable are dropped without a message.
    void push(std::shared_ptr<captured_audio_frame> frame);
    // Frames dropped from a full queue since construction (the "~" marks).
    uint64_t drops() const { return dropped.load(); }

private:
    void send_frames();
    std::shared_ptr<captured_audio_frame> take();

    [[maybe_unused]] std::shared_ptr<hardware> hw;  // held, not used for sending
    std::shared_ptr<network_send> network;
    std::thread thread;
    std::mutex queue_mutex;
    std::condition_variable queue_cv;
    std::deque<std::shared_ptr<captured_audio_frame>> queue;  // oldest first
    bool enabled = false;
    std::atomic<uint64_t> dropped{0};
};
