// A VISCA zoom command on a head without a zoom servo, from the datagram to the first LANC word
// the camera model sees (the PTZ service in-process, VISCA on the loopback interface).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "control/ptz.h"
#include "control/visca_framing.h"
#include "hw/hardware.h"
#include "sim/app/virtual_camera.h"
#include "support/quiet_settings.h"
#include "support/udp_endpoint.h"

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr uint16_t kViscaPort = 47381;
constexpr uint16_t kReplyPort = 47382;

void BM_ZoomCommandToFirstLancWord(benchmark::State& state) {
    setenv("PTZCAM_IFACE", "lo", 1);
    sim::SimSettings settings = quietSettings("none");
    settings.servo.present = false;
    settings.motionSpeed = 60;
    sim::VirtualCamera camera(settings);
    auto hw = std::make_shared<hardware>(camera.platform());
    auto service = std::make_unique<ptz>(nullptr, hw, nullptr, true, "2.4.6", camera.platform(),
                                         ViscaPorts{0, kViscaPort, 0, 0, kReplyPort});
    UdpEndpoint controller(kReplyPort);
    const std::vector<uint8_t> tele = {0x81, 0x01, 0x04, 0x07, 0x27, 0xFF};
    const std::vector<uint8_t> stop = {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF};
    std::vector<double> samples;
    uint32_t sequence = 0;
    for (auto _ : state) {
        controller.sendTo(kViscaPort, visca::frame(visca::kTypeCommand, ++sequence, stop));
        std::this_thread::sleep_for(70ms);  // the stop executed and the queue past its pacing after it
        const auto start = Clock::now();
        controller.sendTo(kViscaPort, visca::frame(visca::kTypeCommand, ++sequence, tele));
        while (camera.fpga().peek(1024 + 16) == 0) {
            if (Clock::now() - start > 1s) return state.SkipWithError("no LANC word");
        }
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        while (controller.receive(0ms)) {
        }
    }
    std::sort(samples.begin(), samples.end());
    state.counters["lanc_p50_us"] = samples[samples.size() / 2];
    state.counters["lanc_p99_us"] = samples[samples.size() * 99 / 100];
    service.reset();
    unsetenv("PTZCAM_IFACE");
}
BENCHMARK(BM_ZoomCommandToFirstLancWord)->Iterations(200)->UseRealTime();
}  // namespace
