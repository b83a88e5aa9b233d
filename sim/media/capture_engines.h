// The two capture engines and the input timing that drives them: a thread that sleeps until each
// field or frame of the simulated source ends and lets the engines capture it.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <nlohmann/json_fwd.hpp>

#include "sim/media/capture_engine.h"
#include "sim/media/video_input.h"

namespace sim {

class CaptureEngines {
public:
    static constexpr uint32_t kFullBlock = 512;
    static constexpr uint32_t kPreviewBlock = 528;
    static constexpr uint32_t kBlockWords = 16;

    CaptureEngines(FpgaModel& fpga, VideoInput& input, RawWindow raw);
    ~CaptureEngines();
    CaptureEngines(const CaptureEngines&) = delete;
    CaptureEngines& operator=(const CaptureEngines&) = delete;

    CaptureEngine& full() { return *fullEngine; }
    CaptureEngine& preview() { return *previewEngine; }
    // The engines' register blocks, for the FPGA model to attach.
    std::shared_ptr<CaptureEngine> fullBlock() const { return fullEngine; }
    std::shared_ptr<CaptureEngine> previewBlock() const { return previewEngine; }
    // Pictures the source has sent since the simulator started.
    uint64_t fieldsSent() const;
    void report(nlohmann::json& state) const;
    void shutdown();

private:
    void run();
    void inputChanged();

    VideoInput& input;
    std::shared_ptr<CaptureEngine> fullEngine, previewEngine;
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool changed = false;
    bool stopping = false;
    uint64_t fields = 0;
    std::thread clock;
};

}  // namespace sim
