// The audio path on the simulator at each input rate: latency from the buffer-complete interrupt
// to the NDI send call (p50, p99) against the buffer duration, processor time per frame of the
// "audcap" and "audcomp" threads, and frames lost (sender drops, buffers the block filled with
// nothing waiting). PTZ_BENCH_AUDIO_SECONDS sets the run per rate (default 20).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "hw/hardware.h"
#include "media/audio_capture.h"
#include "media/audio_compress.h"
#include "media/network_send.h"
#include "sim/app/virtual_camera.h"
#include "sim/ndi/ndi_send_tap.h"
#include "thread_cpu.h"

namespace {
int runSeconds() {
    const char* text = std::getenv("PTZ_BENCH_AUDIO_SECONDS");
    return text != nullptr ? std::max(1, std::atoi(text)) : 20;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    const auto at = values.begin() + static_cast<long>(p * double(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

// Interrupt-to-send latencies in microseconds: each send after `since` against the latest
// completion of the same buffer before it.
std::vector<double> latencies(const std::vector<sim::NdiSendTap::AudioSend>& sends,
                              const std::vector<sim::AudioBlock::Completion>& completions, const hardware& hw,
                              int64_t since) {
    const auto* reserved = static_cast<const uint8_t*>(hw.host_address(0));
    std::vector<double> out;
    for (const auto& send : sends) {
        if (send.steadyNanos < since) continue;
        const auto offset = uint32_t(reinterpret_cast<const uint8_t*>(send.frame.p_data) - reserved);
        const uint32_t bus = hw.bus_address(offset);
        const sim::AudioBlock::Completion* match = nullptr;
        for (const auto& c : completions)
            if (c.address == bus && c.steadyNanos <= send.steadyNanos) match = &c;
        if (match != nullptr) out.push_back(double(send.steadyNanos - match->steadyNanos) / 1000.0);
    }
    return out;
}

const int kRates[] = {48000, 44100, 32000, 96000};
}  // namespace

static void AudioPath(benchmark::State& state) {
    debug_level = 0;
    const int rate = kRates[state.range(0)];
    auto settings = sim::SimSettings::fromEnvironment();  // PTZSIM_REALTIME=1 grants SCHED_FIFO
    settings.httpPort = 0;
    settings.input = "none";  // no video: only the audio path runs
    settings.audioRate = rate;
    sim::VirtualCamera camera(settings);
    platform::install(camera.platform());
    {
        auto tap = std::make_shared<sim::NdiSendTap>(camera.platform());
        auto hw = std::make_shared<hardware>(camera.platform());
        hw->translate_addresses = true;
        auto sender = std::make_shared<network_send>("{}", "", "PTZ", tap);
        auto sending = std::make_shared<audio_compress>(hw, sender);
        auto capture = std::make_shared<audio_capture>(hw, sending, camera.platform());
        sending->enable();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (auto _ : state) {
            const auto frames0 = camera.ndi().sender()->audio().frames;
            const auto block0 = camera.audio().counters();
            const uint64_t drops0 = sending->drops();
            const uint64_t capCpu0 = threadCpuNs("audcap"), sendCpu0 = threadCpuNs("audcomp");
            const auto t0 = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::chrono::seconds(runSeconds()));
            const int64_t since = std::chrono::duration_cast<std::chrono::nanoseconds>(t0.time_since_epoch()).count();
            const auto lat = latencies(tap->audioSends(), camera.audio().completions(), *hw, since);
            const double frames = double(camera.ndi().sender()->audio().frames - frames0);
            const double bufferUs = 768.0 / rate * 1e6;
            state.counters["rate_hz"] = rate;
            state.counters["frames"] = frames;
            state.counters["buffer_us"] = bufferUs;
            state.counters["latency_p50_us"] = percentile(lat, 0.5);
            state.counters["latency_p99_us"] = percentile(lat, 0.99);
            state.counters["p99_over_buffer"] = percentile(lat, 0.99) / bufferUs;
            state.counters["audcap_us_per_frame"] = frames > 0 ? double(threadCpuNs("audcap") - capCpu0) / 1000 / frames : 0;
            state.counters["audcomp_us_per_frame"] =
                frames > 0 ? double(threadCpuNs("audcomp") - sendCpu0) / 1000 / frames : 0;
            state.counters["sender_drops"] = double(sending->drops() - drops0);
            state.counters["block_overruns"] = double(camera.audio().counters().overruns - block0.overruns);
        }
        capture.reset();
    }
    platform::install(nullptr);
}
BENCHMARK(AudioPath)->DenseRange(0, 3)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
