// NDI PTZ metadata against the PTZ service on the virtual camera: a receiver's frame to the first
// SPI write of the move, against the same record pushed straight into the ring; and the parse of a
// frame against a plain copy of its bytes. Each pair alternates in one loop. Run pinned, e.g.
// taskset -c 1 build/default/bench/ptz_bench --benchmark_filter=Ndi
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "control/ndi_ptz_metadata.h"
#include "control/ptz.h"
#include "hw/hardware.h"
#include "media/network_send.h"
#include "motion/stepper.h"
#include "sim/app/virtual_camera.h"
#include "support/quiet_settings.h"
#include "support/wait_for.h"

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class Camera {
public:
    Camera() {
        setenv("PTZCAM_IFACE", "lo", 1);
        sim::SimSettings settings = quietSettings("none");
        settings.motionSpeed = 60;
        settings.servo.present = false;
        camera = std::make_unique<sim::VirtualCamera>(settings);
        hw = std::make_shared<hardware>(camera->platform());
        sender = std::make_shared<network_send>("{}", "<ndi_capabilities/>", "PTZ", camera->platform());
        // Ports nobody else uses: the VISCA thread is not measured here.
        service = std::make_unique<ptz>(sender, hw, nullptr, true, "2.4.6", camera->platform(), ViscaPorts{0, 0, 0, 0, 0});
        ready = waitFor([&] { return service->limitState() == 1; }, 30s, 10ms);
    }
    ~Camera() {
        service.reset();
        sender.reset();
        hw.reset();
        camera.reset();
    }

    std::unique_ptr<sim::VirtualCamera> camera;
    std::shared_ptr<hardware> hw;
    std::shared_ptr<network_send> sender;
    std::unique_ptr<ptz> service;
    bool ready = false;
};

Camera& camera() {
    static Camera instance;
    return instance;
}

double microsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void report(benchmark::State& state, std::vector<double>& samples, const std::string& name) {
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    state.counters[name + "_p50_us"] = samples[samples.size() / 2];
    state.counters[name + "_p99_us"] = samples[samples.size() * 99 / 100];
}

// A write to the pan motor's ramp registers: the move's own, not the control thread's current or
// switch-mode upkeep.
bool panRampWrite(const std::vector<sim::Tmc5041Model::Write>& writes) {
    const uint8_t first = tmc5041::reg(Stepper::kPan, tmc5041::RAMPMODE);
    const uint8_t last = tmc5041::reg(Stepper::kPan, tmc5041::XTARGET);
    return std::any_of(writes.begin(), writes.end(), [&](const auto& w) { return w.reg >= first && w.reg <= last; });
}

// Microseconds from `send` to the first write of the move the chip model executes, with the head
// stopped and the queue idle before; < 0 when nothing was written.
template <typename Send>
double toFirstWrite(Camera& c, Send send) {
    c.service->pushCommand({NDI_PT_SPEED_STOP, 0, 0});
    std::this_thread::sleep_for(40ms);  // the stop carried out and the queue's pacing over
    const uint8_t velocity = tmc5041::reg(Stepper::kPan, tmc5041::VACTUAL);
    waitFor([&] { return c.camera->motion().peek(velocity) == 0; }, 2s, 1ms);
    std::this_thread::sleep_for(40ms);  // the control thread done with the stop event
    c.camera->motion().writes();
    const auto start = Clock::now();
    send();
    // Yield while polling: pinned to one CPU, a spinning poll would hold off the threads measured.
    while (!panRampWrite(c.camera->motion().writes())) {
        if (microsSince(start) > 1e6) return -1;
        std::this_thread::yield();
    }
    return microsSince(start);
}

void BM_NdiMetadataToFirstSpiWrite(benchmark::State& state) {
    Camera& c = camera();
    if (!c.ready) return state.SkipWithError("the head did not home");
    std::vector<double> metadata, direct;
    int turn = 0;
    for (auto _ : state) {
        const float speed = (++turn % 2) ? 0.3f : -0.3f;
        const double viaNdi = toFirstWrite(c, [&] {
            c.camera->ndi().injectMetadata("<ntk_ptz_pan_tilt_speed pan_speed=\"" + std::to_string(speed) +
                                           "\" tilt_speed=\"0\"/>");
        });
        const double viaRing = toFirstWrite(c, [&] { c.service->pushCommand({NDI_PT_SPEED, speed, 0}); });
        if (viaNdi < 0 || viaRing < 0) return state.SkipWithError("no SPI write");
        metadata.push_back(viaNdi);
        direct.push_back(viaRing);
    }
    c.service->pushCommand({NDI_PT_SPEED_STOP, 0, 0});
    report(state, metadata, "ndi");
    report(state, direct, "ring");
    state.counters["ratio_p50"] = metadata[metadata.size() / 2] / direct[direct.size() / 2];
}
BENCHMARK(BM_NdiMetadataToFirstSpiWrite)->Iterations(200)->UseRealTime();

// Parse and map one frame against copying the same bytes into a fresh string, alternated.
void BM_NdiMetadataParseAgainstCopy(benchmark::State& state) {
    const std::string frame = R"(<ntk_ptz_recall_preset index="7" speed="0.5"/>)";
    double parseNs = 0, copyNs = 0;
    NdiPtzMetadata::Request request;
    std::string error;
    constexpr int kRounds = 64;
    for (auto _ : state) {
        auto start = Clock::now();
        for (int i = 0; i < kRounds; ++i) {
            std::string text = frame;
            NdiPtzMetadata::decode(text, request, error);
            benchmark::DoNotOptimize(request);
        }
        parseNs += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        start = Clock::now();
        for (int i = 0; i < kRounds; ++i) {
            std::string text = frame;
            benchmark::DoNotOptimize(text.data());
            benchmark::ClobberMemory();
        }
        copyNs += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    }
    const double frames = static_cast<double>(state.iterations()) * kRounds;
    state.counters["parse_ns_per_frame"] = parseNs / frames;
    state.counters["copy_ns_per_frame"] = copyNs / frames;
    state.counters["ratio"] = parseNs / copyNs;
}
BENCHMARK(BM_NdiMetadataParseAgainstCopy)->Iterations(20000)->UseRealTime();
}  // namespace
