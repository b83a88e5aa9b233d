// The simulated source and its change notifications.
#include "sim/media/video_input.h"

namespace sim {

InputFormat VideoInput::current() const {
    std::lock_guard lock(mutex);
    return format;
}

void VideoInput::set(const InputFormat& next) {
    std::vector<Listener> notify;
    {
        std::lock_guard lock(mutex);
        format = next;
        notify = listeners;
    }
    for (const auto& listener : notify) listener(next);
}

void VideoInput::listen(Listener listener) {
    std::lock_guard lock(mutex);
    listeners.push_back(std::move(listener));
}

}  // namespace sim
