// VISCA over IP between two network namespaces against the PTZ service on the virtual camera:
// command round trips against a bare UDP echo, position inquiries against the echo (alternated),
// datagram to first SPI write, sustained rate. Run pinned to one CPU (taskset -c 0) for the ratios.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "control/ptz.h"
#include "control/visca_framing.h"
#include "hw/hardware.h"
#include "motion/spi.h"
#include "sim/app/virtual_camera.h"
#include "support/netns_pair.h"
#include "support/quiet_settings.h"
#include "support/udp_endpoint.h"
#include "support/wait_for.h"

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr uint16_t kEchoPort = 40999;
// Answers each datagram twice, one send after the other, as the camera sends an ACK and a Completion.
constexpr uint16_t kTwoEchoPort = 40998;

// Two namespaces, a veth, the camera in-process in one of them, a controller socket in the other.
class Rig {
public:
    Rig() {
        if (!pair.ready()) return;
        unsetenv("PTZCAM_IFACE");
        sim::SimSettings settings = quietSettings("none");
        settings.motionSpeed = 60;
        // Threads started here inherit the camera's namespace.
        NetnsPair::inside(pair.camera, [&] {
            camera = std::make_unique<sim::VirtualCamera>(settings);
            hw = std::make_shared<hardware>(camera->platform());
            service = std::make_unique<ptz>(nullptr, hw, nullptr, true, "2.4.6", camera->platform());
        });
        echoEndpoint = NetnsPair::udpEndpoint(pair.camera, kEchoPort, INADDR_ANY);
        twoEchoEndpoint = NetnsPair::udpEndpoint(pair.camera, kTwoEchoPort, INADDR_ANY);
        controller = NetnsPair::udpEndpoint(pair.controller, visca::kViscaPort, INADDR_ANY);
        if (!service || !echoEndpoint || !twoEchoEndpoint || !controller) return;
        echo = std::thread([this] {
            while (!stopping) echoEndpoint->echoOne(50ms);
        });
        twoEcho = std::thread([this] {
            while (!stopping) twoEchoEndpoint->echoOne(50ms, 2);
        });
        ready = waitFor([&] { return service->limitState() == 1; }, 20s, 10ms);
    }
    ~Rig() {
        stopping = true;
        if (echo.joinable()) echo.join();
        if (twoEcho.joinable()) twoEcho.join();
        service.reset();
        hw.reset();
        camera.reset();
    }
    void sendTo(const std::vector<uint8_t>& data, uint16_t port) const { controller->sendTo(port, data, pair.cameraIp); }
    bool replied(std::chrono::milliseconds limit) const { return controller->receive(limit).has_value(); }

    NetnsPair pair;  // built first, removed last
    bool ready = false;
    std::unique_ptr<sim::VirtualCamera> camera;
    std::shared_ptr<hardware> hw;
    std::unique_ptr<ptz> service;
    std::unique_ptr<UdpEndpoint> echoEndpoint, twoEchoEndpoint, controller;
    std::atomic<bool> stopping{false};
    std::thread echo, twoEcho;
};

Rig& rig() {
    static Rig instance;
    return instance;
}

void report(benchmark::State& state, std::vector<double>& samples, const char* name) {
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    state.counters[std::string(name) + "_p50_us"] = samples[samples.size() / 2];
    state.counters[std::string(name) + "_p99_us"] = samples[samples.size() * 99 / 100];
}

double microsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

const std::vector<uint8_t> kStop = {0x81, 0x01, 0x06, 0x01, 0x00, 0x00, 0x03, 0x03, 0xFF};

// One echo between the namespaces, timed to its last answer; false when one was lost.
bool timeEcho(Rig& r, const std::vector<uint8_t>& datagram, std::vector<double>& echoes, int answers = 1) {
    const auto start = Clock::now();
    r.sendTo(datagram, answers == 1 ? kEchoPort : kTwoEchoPort);
    for (int i = 0; i < answers; ++i)
        if (!r.replied(1000ms)) return false;
    echoes.push_back(microsSince(start));
    return true;
}

// p50 and p99 of `samples` against those of the echoes plus a fixed extra time.
void ratios(benchmark::State& state, const char* name, std::vector<double> samples, std::vector<double> echoes,
            double extraMicros = 0) {
    std::sort(samples.begin(), samples.end());
    std::sort(echoes.begin(), echoes.end());
    const auto at = [](const std::vector<double>& v, size_t permille) { return v[v.size() * permille / 1000]; };
    state.counters[std::string(name) + "_ratio_p50"] = at(samples, 500) / (at(echoes, 500) + extraMicros);
    state.counters[std::string(name) + "_ratio_p99"] = at(samples, 990) / (at(echoes, 990) + extraMicros);
}

// Echoes and command alternated in one loop, so that all see the same machine. The Completion is
// the camera's second datagram: it is also held against an echo that answers twice.
void BM_ViscaCommandAgainstEcho(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ready) return state.SkipWithError("needs root and ip netns");
    std::vector<double> echoes, twoEchoes, acks, completions;
    uint32_t sequence = 0;
    for (auto _ : state) {
        const std::vector<uint8_t> request = visca::frame(visca::kTypeCommand, ++sequence, kStop);
        if (!timeEcho(r, request, echoes)) return state.SkipWithError("echo lost");
        if (!timeEcho(r, request, twoEchoes, 2)) return state.SkipWithError("second echo lost");
        const auto start = Clock::now();
        r.sendTo(request, visca::kViscaPort);
        if (!r.replied(1000ms)) return state.SkipWithError("ACK lost");
        acks.push_back(microsSince(start));
        if (!r.replied(1000ms)) return state.SkipWithError("Completion lost");
        completions.push_back(microsSince(start));
    }
    ratios(state, "ack", acks, echoes);
    ratios(state, "completion", completions, echoes);
    ratios(state, "completion_vs_two_echo", completions, twoEchoes);
    report(state, echoes, "echo");
    report(state, twoEchoes, "two_echo");
    report(state, acks, "ack");
    report(state, completions, "completion");
}
BENCHMARK(BM_ViscaCommandAgainstEcho)->Iterations(2000)->UseRealTime();

// The position inquiry's two register reads: each two 5-byte frames on the bus.
constexpr double kInquiryBusMicros = 2 * 2 * 5 * 8 * 1e6 / SPI::kSpeedHz;

// Echo and position inquiry alternated; the inquiry is held against the echo plus the bus
// time of its reads.
void BM_PositionInquiryAgainstEcho(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ready) return state.SkipWithError("needs root and ip netns");
    const std::vector<uint8_t> inquiry = {0x81, 0x09, 0x06, 0x12, 0xFF};
    std::vector<double> echoes, answers;
    uint32_t sequence = 0;
    for (auto _ : state) {
        const std::vector<uint8_t> request = visca::frame(visca::kTypeInquiry, ++sequence, inquiry);
        if (!timeEcho(r, request, echoes)) return state.SkipWithError("echo lost");
        const auto start = Clock::now();
        r.sendTo(request, visca::kViscaPort);
        if (!r.replied(1000ms)) return state.SkipWithError("answer lost");
        answers.push_back(microsSince(start));
    }
    ratios(state, "inquiry", answers, echoes, kInquiryBusMicros);
    report(state, echoes, "echo");
    report(state, answers, "inquiry");
}
BENCHMARK(BM_PositionInquiryAgainstEcho)->Iterations(2000)->UseRealTime();

// From the datagram leaving the controller to the first write the chip model executes.
void BM_DatagramToFirstSpiWrite(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ready) return state.SkipWithError("needs root and ip netns");
    std::vector<double> samples;
    const std::vector<uint8_t> left = {0x81, 0x01, 0x06, 0x01, 0x02, 0x02, 0x01, 0x03, 0xFF};
    const std::vector<uint8_t> right = {0x81, 0x01, 0x06, 0x01, 0x02, 0x02, 0x02, 0x03, 0xFF};
    uint32_t sequence = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(35));  // past the queue's pacing
        r.camera->motion().writes();
        ++sequence;
        const auto start = Clock::now();
        r.sendTo(visca::frame(visca::kTypeCommand, sequence, sequence % 2 ? left : right), visca::kViscaPort);
        while (r.camera->motion().writes().empty()) {
            if (microsSince(start) > 1e6) return state.SkipWithError("no SPI write");
        }
        samples.push_back(microsSince(start));
        r.replied(1000ms);
        r.replied(1000ms);
    }
    report(state, samples, "spi");
}
BENCHMARK(BM_DatagramToFirstSpiWrite)->Iterations(200)->UseRealTime();

// Bursts of commands sent back to back; every one must get its ACK and Completion.
void BM_SustainedCommandRate(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ready) return state.SkipWithError("needs root and ip netns");
    const int burst = static_cast<int>(state.range(0));
    uint32_t sequence = 0;
    int64_t lost = 0, commands = 0;
    for (auto _ : state) {
        for (int i = 0; i < burst; ++i) r.sendTo(visca::frame(visca::kTypeCommand, ++sequence, kStop), visca::kViscaPort);
        int replies = 0;
        while (replies < 2 * burst && r.replied(200ms)) ++replies;
        lost += 2 * burst - replies;
        commands += burst;
    }
    state.counters["commands_per_s"] = benchmark::Counter(static_cast<double>(commands), benchmark::Counter::kIsRate);
    state.counters["lost_replies"] = static_cast<double>(lost);
}
BENCHMARK(BM_SustainedCommandRate)->Arg(16)->Arg(64)->Iterations(50)->UseRealTime();
}  // namespace
