// Start-up costs: hardware bring-up against the simulator, configuration lookups and rewrites.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/config_parser.h"
#include "base/log.h"
#include "hw/hardware.h"
#include "sim/app/virtual_camera.h"
#include "support/quiet_settings.h"

namespace {
std::string scratchConfig() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ptzbench.XXXXXX").string();
    return std::string(mkdtemp(pattern.data())) + "/config.cfg";
}
}  // namespace

// Dominated by poisoning the 128 MiB reserved region.
static void HardwareBringUp(benchmark::State& state) {
    debug_level = 0;
    sim::VirtualCamera camera(quietSettings());
    for (auto _ : state) {
        hardware hw(camera.platform());
        benchmark::DoNotOptimize(hw.is_ready());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * sim::MemoryLayout::kReservedSize);
}
BENCHMARK(HardwareBringUp)->Unit(benchmark::kMillisecond);

static void RegisterWriteThroughSeam(benchmark::State& state) {
    debug_level = 0;
    sim::VirtualCamera camera(quietSettings());
    hardware hw(camera.platform());
    uint32_t value = 0;
    for (auto _ : state) hw.write32(512, 2, ++value);
}
BENCHMARK(RegisterWriteThroughSeam);

static void ConfigLookupsAtStartUp(benchmark::State& state) {
    debug_level = 0;
    const std::string path = scratchConfig();
    configParser config(path);
    for (auto _ : state) {
        uint32_t limit = 150;
        std::string pan, tilt;
        config.getValue("PtzLimitDegree", limit);
        config.getValue("PAN_REVERSE", pan);
        config.getValue("TILT_REVERSE", tilt);
        benchmark::DoNotOptimize(limit);
    }
    std::filesystem::remove_all(std::filesystem::path(path).parent_path());
}
BENCHMARK(ConfigLookupsAtStartUp)->Unit(benchmark::kMicrosecond);

// Each rewrite syncs the file and the directory: the price of surviving a power cut.
static void ConfigSafeRewrite(benchmark::State& state) {
    debug_level = 0;
    const std::string path = scratchConfig();
    configParser config(path);
    bool flip = false;
    for (auto _ : state) config.setValue("PAN_REVERSE", (flip = !flip) ? "true" : "false");
    std::filesystem::remove_all(std::filesystem::path(path).parent_path());
}
BENCHMARK(ConfigSafeRewrite)->Unit(benchmark::kMicrosecond);
