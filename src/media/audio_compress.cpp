// The audio sender's queue and its sending thread.
#include "media/audio_compress.h"

#include <cstdio>

#include "base/log.h"
#include "media/network_send.h"
#include "platform/thread_name.h"

audio_compress::audio_compress(std::shared_ptr<hardware> hw_, std::shared_ptr<network_send> network_)
    : hw(std::move(hw_)), network(std::move(network_)) {
    thread = std::thread(&audio_compress::send_frames, this);
}

audio_compress::~audio_compress() {
    logAt(4, "audio_compress Destructor\n");
    std::fflush(stdout);
    push(nullptr);  // behind the capture's own marker when that came first; discarded with the queue
    if (thread.joinable()) thread.join();
}

void audio_compress::enable() {
    std::lock_guard lock(queue_mutex);
    enabled = true;
}

void audio_compress::push(std::shared_ptr<captured_audio_frame> frame) {
    {
        std::lock_guard lock(queue_mutex);
        // The end marker passes even before enable, so a sender never enabled still stops.
        if (!enabled && frame) return;
        queue.push_back(std::move(frame));
        logAt(5, "a");
        // Only frames are dropped: a lost end marker would leave the thread waiting for good.
        while (queue.size() >= queue_limit && queue.front()) {
            queue.pop_front();
            ++dropped;
            logAt(2, "~");
        }
    }
    queue_cv.notify_one();
}

std::shared_ptr<captured_audio_frame> audio_compress::take() {
    std::unique_lock lock(queue_mutex);
    queue_cv.wait(lock, [this] { return !queue.empty(); });
    auto frame = std::move(queue.front());
    queue.pop_front();
    logAt(5, "A");
    return frame;
}

void audio_compress::send_frames() {
    set_thread_name("audcomp");
    while (auto frame = take()) {
        if (network) network->send_audio(frame);
    }
}
