// The capture path on the simulator: pairs captured per second against the source's rate,
// and processor time per pair of the "vidcap" thread (and of the model writing the pictures).
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "base/log.h"
#include "support/pipeline_rig.h"
#include "support/quiet_settings.h"
#include "thread_cpu.h"

namespace {
const char* const kInputs[] = {"1080p59.94", "1080p50", "1080i59.94", "720p60"};
}  // namespace

static void CapturePath(benchmark::State& state) {
    debug_level = 0;
    const sim::SimSettings settings = quietSettings(kInputs[state.range(0)]);
    const auto input = *sim::InputFormat::parse(settings.input);
    PipelineRig rig(settings, {.sender = PipelineRig::Sender::none});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // past the first restart
    for (auto _ : state) {
        const uint64_t pairs0 = rig.compressor->pairs_received();
        const uint64_t app0 = threadCpuNs("vidcap"), model0 = threadCpuNs("sim:capture");
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double pairs = static_cast<double>(rig.compressor->pairs_received() - pairs0);
        state.counters["input_fps"] = double(input.rateN) / input.rateD;
        state.counters["captured_fps"] = pairs / seconds;
        state.counters["vidcap_us_per_pair"] = pairs > 0 ? double(threadCpuNs("vidcap") - app0) / 1000 / pairs : 0;
        state.counters["model_us_per_pair"] = pairs > 0 ? double(threadCpuNs("sim:capture") - model0) / 1000 / pairs : 0;
    }
}
BENCHMARK(CapturePath)->DenseRange(0, 3)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
