// The source's field clock: real sleeps at the input's rate, never a busy wait.
#include "sim/media/capture_engines.h"

#include <nlohmann/json.hpp>

#include "platform/thread_name.h"

namespace sim {

CaptureEngines::CaptureEngines(FpgaModel& fpga, VideoInput& input_, RawWindow raw)
    : input(input_),
      fullEngine(std::make_shared<CaptureEngine>(fpga, kFullBlock, 1, true, raw)),
      previewEngine(std::make_shared<CaptureEngine>(fpga, kPreviewBlock, 2, false, raw)) {
    input.listen([this](const InputFormat&) { inputChanged(); });
    clock = std::thread(&CaptureEngines::run, this);
}

CaptureEngines::~CaptureEngines() { shutdown(); }

void CaptureEngines::shutdown() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (clock.joinable()) clock.join();
}

void CaptureEngines::inputChanged() {
    // The engines lose what they were capturing the moment the source changes.
    fullEngine->abort();
    previewEngine->abort();
    {
        std::lock_guard lock(mutex);
        changed = true;
    }
    wake.notify_all();
}

uint64_t CaptureEngines::fieldsSent() const {
    std::lock_guard lock(mutex);
    return fields;
}

void CaptureEngines::run() {
    using clock_type = std::chrono::steady_clock;
    set_thread_name("sim:capture");
    std::unique_lock lock(mutex);
    auto interrupted = [this] { return stopping || changed; };
    while (!stopping) {
        changed = false;
        const InputFormat format = input.current();
        if (!format.present) {
            wake.wait(lock, interrupted);
        } else {
            const auto period = format.period();
            auto next = clock_type::now() + period;
            while (!wake.wait_until(lock, next, interrupted)) {
                const uint64_t field = ++fields;
                lock.unlock();
                // Both engines write during the picture: its end interrupts once both are in memory.
                const bool fullDone = fullEngine->boundary(format, field);
                const bool previewDone = previewEngine->boundary(format, field);
                if (fullDone) fullEngine->interrupt();
                if (previewDone) previewEngine->interrupt();
                lock.lock();
                next += period;
                // A late wake-up (a busy machine) skips pictures rather than sending a burst.
                if (clock_type::now() > next) next = clock_type::now() + period;
            }
        }
    }
}

void CaptureEngines::report(nlohmann::json& state) const {
    const auto f = fullEngine->counters();
    const auto p = previewEngine->counters();
    auto& capture = state["capture"];
    capture["frames"] = f.captured;
    capture["restarts"] = f.idleStarts;
    capture["previews"] = p.captured;
    capture["overruns"] = f.overruns + p.overruns;
    capture["clipped"] = f.clipped + p.clipped;
    capture["aborted"] = f.aborted + p.aborted;
    capture["full"] = {{"width", f.lastWidth}, {"height", f.lastHeight}, {"stride", f.lastStride}};
    capture["preview"] = {{"width", p.lastWidth}, {"height", p.lastHeight}, {"stride", p.lastStride}};
    capture["fields_sent"] = fieldsSent();
}

}  // namespace sim
