// The streaming half running in the simulator: capture interrupt to NDI send latency without the
// encoder model's own time, frames sent per second, drops, and the application's CPU apart from
// the models (per thread, from /proc/self/task). PTZ_BENCH_SECONDS sets the measured time (10).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

#include "hw/timecode.h"
#include "support/pipeline_rig.h"
#include "support/quiet_settings.h"

namespace {
using steady = std::chrono::steady_clock;

int64_t steadyNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(steady::now().time_since_epoch()).count();
}

double measuredSeconds() {
    const char* text = std::getenv("PTZ_BENCH_SECONDS");
    return text ? std::max(1.0, std::atof(text)) : 10.0;
}

// CPU seconds per thread name (user + system) of this process.
std::map<std::string, double> threadCpu() {
    std::map<std::string, double> out;
    const double tick = double(sysconf(_SC_CLK_TCK));
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(task.path() / "stat");
        std::string line;
        if (!std::getline(in, line)) continue;
        const auto open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        std::vector<std::string> fields{std::istream_iterator<std::string>(rest), {}};
        if (fields.size() < 13) continue;  // fields[11], [12]: utime, stime
        out[line.substr(open + 1, close - open - 1)] += (std::stod(fields[11]) + std::stod(fields[12])) / tick;
    }
    return out;
}

bool isModel(const std::string& name) { return name.rfind("sim:", 0) == 0; }
bool isBench(const std::string& name) { return name == "ptz_bench"; }

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

sim::SimSettings settings(const char* input) {
    sim::SimSettings s = quietSettings(input);
    s.encoderCores = 4;
    return s;
}

// Stands in for a capture engine the input model lacks: pairs of a painted picture at the rate.
class Feeder {
public:
    Feeder(PipelineRig& p, int width, int height) : pipeline(p), frame(*p.paintedFrame(width, height, 0, 0, 1)) {
        frame.rate_n = 60000;
        frame.rate_d = 1001;
        thread = std::thread([this] { run(); });
    }
    ~Feeder() {
        stop = true;
        thread.join();
    }

private:
    void run() {
        const auto period = std::chrono::nanoseconds(1001000000000LL / 60000);
        auto next = steady::now();
        while (!stop) {
            auto pair = std::make_shared<video_capture::frame_pair_t>();
            pair->full = std::make_shared<video_capture::frame_t>(frame);
            pair->full->timecode = timecode_now();
            pipeline.compressor->push(pair);
            next += period;
            std::this_thread::sleep_until(next);
        }
    }
    PipelineRig& pipeline;
    video_capture::frame_t frame;
    std::atomic<bool> stop{false};
    std::thread thread;
};

void report(benchmark::State& state, PipelineRig& p, double seconds, const std::map<std::string, double>& cpuBefore,
            int64_t from, int width) {
    const auto cpu = threadCpu();
    const int64_t to = steadyNanos();
    // The frame's timecode is the wall clock at process start plus the steady clock's progress.
    const int64_t offset = timecode_now() * 100 - steadyNanos();
    const auto sends = p.tap->sends();
    const auto batches = p.camera.encoder().batchTimings();
    std::vector<double> total, model, app;
    size_t sent[2] = {0, 0};
    for (const auto& s : sends) {
        if (s.steadyNanos < from || s.steadyNanos > to) continue;
        const bool full = s.fourcc == ndi::fourcc_SHQ2;
        ++sent[full ? 0 : 1];
        if (!full) continue;
        const int64_t captured = s.timecode * 100 - offset;
        const sim::EncoderCores::BatchTiming* batch = nullptr;
        for (const auto& b : batches)
            if (b.width == uint32_t(width) && b.startedNanos >= captured && b.doneNanos <= s.steadyNanos) batch = &b;
        if (batch == nullptr) continue;
        const double all = double(s.steadyNanos - captured) / 1000, cores = double(batch->doneNanos - batch->startedNanos) / 1000;
        total.push_back(all);
        model.push_back(cores);
        app.push_back(all - cores);
    }
    double appCpu = 0, modelCpu = 0;
    std::fprintf(stderr, "thread CPU over %.1f s:\n", seconds);
    for (const auto& [name, used] : cpu) {
        const auto before = cpuBefore.find(name);
        const double share = (used - (before == cpuBefore.end() ? 0 : before->second)) / seconds * 100;
        std::fprintf(stderr, "  %-14s %6.2f %%\n", name.c_str(), share);
        if (isModel(name)) modelCpu += share;
        else if (!isBench(name)) appCpu += share;
    }
    const auto drops = p.compressor->drops();
    state.counters["full_fps"] = double(sent[0]) / seconds;
    state.counters["preview_fps"] = double(sent[1]) / seconds;
    state.counters["drops_capture"] = double(drops.capture);
    state.counters["drops_copy"] = double(drops.copy);
    state.counters["drops_full"] = double(drops.full);
    state.counters["drops_preview"] = double(drops.preview);
    state.counters["overflows"] = double(p.camera.encoder().counters().overflows);
    state.counters["app_cpu_pct"] = appCpu;
    state.counters["model_cpu_pct"] = modelCpu;
    state.counters["lat_app_p50_us"] = percentile(app, 0.5);
    state.counters["lat_app_p99_us"] = percentile(app, 0.99);
    state.counters["lat_total_p50_us"] = percentile(total, 0.5);
    state.counters["model_p50_us"] = percentile(model, 0.5);
    state.counters["latency_samples"] = double(app.size());
}

void run(benchmark::State& state, const char* input, int width, int height) {
    const double seconds = measuredSeconds();
    for (auto _ : state) {
        PipelineRig p(settings(input), {.sender = PipelineRig::Sender::tap, .capture = width == 1920});
        std::unique_ptr<Feeder> feeder;
        if (width != 1920) feeder = std::make_unique<Feeder>(p, width, height);
        std::this_thread::sleep_for(std::chrono::seconds(1));  // past the input's lock and the first tables
        const auto cpuBefore = threadCpu();
        const int64_t from = steadyNanos();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        report(state, p, double(steadyNanos() - from) / 1e9, cpuBefore, from, width);
        feeder.reset();
    }
}

// The capture model's 1080p59.94 source, its 640x360 preview every second frame.
void Sustained1080p5994FourCores(benchmark::State& state) { run(state, "1080p59.94", 1920, 1080); }
// The input model has no 2160p format: a feeder pushes full pictures at 59.94 Hz instead.
void Fed2160p5994FourCores(benchmark::State& state) { run(state, "none", 3840, 2160); }
}  // namespace

BENCHMARK(Sustained1080p5994FourCores)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Fed2160p5994FourCores)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
