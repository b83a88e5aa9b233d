// The copy and sender threads of the compressor: out of reserved memory, routed by stream, to NDI.
#include "base/log.h"
#include "media/network_send.h"
#include "media/slice_assembly.h"
#include "media/video_compress.h"
#include "platform/thread_name.h"

namespace {
template <class Queue>
auto take(std::mutex& mutex, std::condition_variable& cv, Queue& queue, const char* mark) {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return !queue.empty(); });
    auto item = std::move(queue.front());
    queue.pop_front();
    logAt(5, "%s", mark);
    return item;
}
}  // namespace

void video_compress::queue_for_send(std::shared_ptr<frame_t> frame) {
    std::lock_guard lock(copy_mutex);
    copy_queue.push_back(std::move(frame));
    logAt(5, "n");
    while (copy_queue.size() >= queue_limit) {
        copy_queue.pop_front();
        ++dropped_copy;
        logAt(2, "@");
    }
    copy_cv.notify_one();
}

void video_compress::copy_frames() {
    set_thread_name("vidcomp:copy");
    logAt(4, "copy_frames thread\n");
    for (;;) {
        auto frame = take(copy_mutex, copy_cv, copy_queue, "c");
        if (!frame) break;
        slice_assembly::assemble(*frame);
        dispatch(std::move(frame));
    }
    logAt(4, "copy_frames thread done!\n");
}

void video_compress::dispatch(std::shared_ptr<frame_t> frame) {
    if (!frame) {
        // The stop token is never trimmed: it must reach both senders whatever waits.
        {
            std::lock_guard lock(full_mutex);
            full_queue.push_back(nullptr);
            logAt(5, "x");
            full_cv.notify_one();
        }
        std::lock_guard lock(preview_mutex);
        preview_queue.push_back(nullptr);
        logAt(5, "X");
        preview_cv.notify_one();
        return;
    }
    const bool preview = frame->stream != 0;
    std::lock_guard lock(preview ? preview_mutex : full_mutex);
    auto& queue = preview ? preview_queue : full_queue;
    queue.push_back(std::move(frame));
    logAt(5, preview ? "F" : "f");
    while (queue.size() >= queue_limit) {
        queue.pop_front();
        ++(preview ? dropped_preview : dropped_full);
        logAt(2, preview ? "$" : "#");
    }
    (preview ? preview_cv : full_cv).notify_one();
}

void video_compress::send_frames(int index) {
    struct sender_constants {
        const char *name, *start, *mark, *done;
    };
    static constexpr sender_constants constants[2] = {
        {"send_full", "send_full thread\n", "s", "send_full thread done!\n"},
        {"send_prvw", "send_prvw thread\n", "S", "send_prvw thread done!\n"},
    };
    const auto& k = constants[index];
    set_thread_name(k.name);
    logAt(4, "%s", k.start);
    auto& mutex = index == 0 ? full_mutex : preview_mutex;
    auto& cv = index == 0 ? full_cv : preview_cv;
    auto& queue = index == 0 ? full_queue : preview_queue;
    std::shared_ptr<frame_t> current;  // held until the next one is taken
    for (;;) {
        current = take(mutex, cv, queue, k.mark);
        if (!current) break;
        if (sender) sender->send_video(current, index);
    }
    logAt(4, "%s", k.done);
}
