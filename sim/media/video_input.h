// The simulated HDMI source: the format it sends now, and the models that follow it.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "sim/media/input_format.h"

namespace sim {

class VideoInput {
public:
    using Listener = std::function<void(const InputFormat&)>;

    explicit VideoInput(InputFormat initial) : format(std::move(initial)) {}

    InputFormat current() const;
    // Plugs another source in (or "none" to unplug); every listener hears of it.
    void set(const InputFormat& next);
    // Listeners are added while the simulator is assembled.
    void listen(Listener listener);

private:
    mutable std::mutex mutex;
    InputFormat format;
    std::vector<Listener> listeners;
};

}  // namespace sim
