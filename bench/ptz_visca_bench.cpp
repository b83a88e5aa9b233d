// VISCA over IP between two network namespaces against the PTZ service on the virtual camera:
// command round trips against a bare UDP echo, datagram to first SPI write, sustained rate.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "control/ptz.h"
#include "control/visca_framing.h"
#include "hw/hardware.h"
#include "sim/app/virtual_camera.h"

namespace {
using Clock = std::chrono::steady_clock;
const std::string kCameraIp = "10.78.0.2";
constexpr uint16_t kEchoPort = 40999;

bool inside(const std::string& ns, const std::function<void()>& work) {
    bool entered = false;
    std::thread([&] {
        const int fd = open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        entered = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0) close(fd);
        if (entered) work();
    }).join();
    return entered;
}

int boundSocket(uint32_t address, uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    a.sin_port = htons(port);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

bool receiveWithin(int fd, std::vector<uint8_t>& buffer, int ms) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    buffer.resize(1024);
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return n > 0;
}

// Two namespaces, a veth, the camera in-process in one of them, a controller socket in the other.
class Rig {
public:
    Rig() {
        const std::string id = std::to_string(getpid());
        cameraNs = "ptzbc" + id;
        controllerNs = "ptzbh" + id;
        const std::string a = "ptzba" + id, b = "ptzbb" + id;
        const std::string script = "ip netns add " + cameraNs + " && ip netns add " + controllerNs +
                                   " && ip link add " + a + " type veth peer name " + b + " && ip link set " + a +
                                   " netns " + cameraNs + " && ip link set " + b + " netns " + controllerNs +
                                   " && ip -n " + cameraNs + " link set " + a + " name eth0 && ip -n " + cameraNs +
                                   " addr add " + kCameraIp + "/24 dev eth0 && ip -n " + cameraNs +
                                   " link set eth0 up && ip -n " + cameraNs + " link set lo up && ip -n " +
                                   controllerNs + " addr add 10.78.0.1/24 dev " + b + " && ip -n " + controllerNs +
                                   " link set " + b + " up";
        ready = std::system((script + " 2>/dev/null").c_str()) == 0;
        if (!ready) return;
        unsetenv("PTZCAM_IFACE");
        sim::SimSettings settings;
        settings.httpPort = 0;
        settings.motionSpeed = 60;
        settings.input = "none";
        // Threads started here inherit the camera's namespace.
        inside(cameraNs, [&] {
            camera = std::make_unique<sim::VirtualCamera>(settings);
            hw = std::make_shared<hardware>(camera->platform());
            service = std::make_unique<ptz>(nullptr, hw, nullptr, true, "2.4.6", camera->platform());
            echoFd = boundSocket(INADDR_ANY, kEchoPort);
        });
        inside(controllerNs, [&] { controllerFd = boundSocket(INADDR_ANY, visca::kViscaPort); });
        echo = std::thread([this] { runEcho(); });
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (service->limitState() != 1 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ready = service->limitState() == 1;
    }
    ~Rig() {
        stopping = true;
        if (echo.joinable()) echo.join();
        service.reset();
        hw.reset();
        camera.reset();
        if (echoFd >= 0) close(echoFd);
        if (controllerFd >= 0) close(controllerFd);
        std::system(("ip netns del " + cameraNs + " 2>/dev/null; ip netns del " + controllerNs + " 2>/dev/null").c_str());
    }
    void runEcho() {
        std::vector<uint8_t> buffer;
        while (!stopping) {
            pollfd p{echoFd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            buffer.resize(1024);
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = recvfrom(echoFd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n > 0) sendto(echoFd, buffer.data(), static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), length);
        }
    }
    void sendTo(const std::vector<uint8_t>& data, uint16_t port) const {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, kCameraIp.c_str(), &a.sin_addr);
        a.sin_port = htons(port);
        sendto(controllerFd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }

    bool ready = false;
    std::string cameraNs, controllerNs;
    std::unique_ptr<sim::VirtualCamera> camera;
    std::shared_ptr<hardware> hw;
    std::unique_ptr<ptz> service;
    int echoFd = -1, controllerFd = -1;
    std::atomic<bool> stopping{false};
    std::thread echo;
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

void BM_UdpEchoBetweenNamespaces(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ready) return state.SkipWithError("needs root and ip netns");
    std::vector<double> samples;
    std::vector<uint8_t> reply;
    const std::vector<uint8_t> datagram = visca::frame(visca::kTypeCommand, 1, kStop);
    for (auto _ : state) {
        const auto start = Clock::now();
        r.sendTo(datagram, kEchoPort);
        if (!receiveWithin(r.controllerFd, reply, 1000)) return state.SkipWithError("echo lost");
        samples.push_back(microsSince(start));
    }
    report(state, samples, "echo");
}
BENCHMARK(BM_UdpEchoBetweenNamespaces)->Iterations(2000)->UseRealTime();

void BM_ViscaCommandAckAndCompletion(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ready) return state.SkipWithError("needs root and ip netns");
    std::vector<double> acks, completions;
    std::vector<uint8_t> reply;
    uint32_t sequence = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        r.sendTo(visca::frame(visca::kTypeCommand, ++sequence, kStop), visca::kViscaPort);
        if (!receiveWithin(r.controllerFd, reply, 1000)) return state.SkipWithError("ACK lost");
        acks.push_back(microsSince(start));
        if (!receiveWithin(r.controllerFd, reply, 1000)) return state.SkipWithError("Completion lost");
        completions.push_back(microsSince(start));
    }
    report(state, acks, "ack");
    report(state, completions, "completion");
}
BENCHMARK(BM_ViscaCommandAckAndCompletion)->Iterations(2000)->UseRealTime();

// From the datagram leaving the controller to the first write the chip model executes.
void BM_DatagramToFirstSpiWrite(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ready) return state.SkipWithError("needs root and ip netns");
    std::vector<double> samples;
    std::vector<uint8_t> reply;
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
        receiveWithin(r.controllerFd, reply, 1000);
        receiveWithin(r.controllerFd, reply, 1000);
    }
    report(state, samples, "spi");
}
BENCHMARK(BM_DatagramToFirstSpiWrite)->Iterations(200)->UseRealTime();

// Bursts of commands sent back to back; every one must get its ACK and Completion.
void BM_SustainedCommandRate(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ready) return state.SkipWithError("needs root and ip netns");
    const int burst = static_cast<int>(state.range(0));
    std::vector<uint8_t> reply;
    uint32_t sequence = 0;
    int64_t lost = 0, commands = 0;
    for (auto _ : state) {
        for (int i = 0; i < burst; ++i) r.sendTo(visca::frame(visca::kTypeCommand, ++sequence, kStop), visca::kViscaPort);
        int replies = 0;
        while (replies < 2 * burst && receiveWithin(r.controllerFd, reply, 200)) ++replies;
        lost += 2 * burst - replies;
        commands += burst;
    }
    state.counters["commands_per_s"] = benchmark::Counter(static_cast<double>(commands), benchmark::Counter::kIsRate);
    state.counters["lost_replies"] = static_cast<double>(lost);
}
BENCHMARK(BM_SustainedCommandRate)->Arg(16)->Arg(64)->Iterations(50)->UseRealTime();
}  // namespace
