// Reading back a compressed picture: collect (trim four slices) plus assemble (the one copy),
// against a plain memcpy of the same payload bytes, for 1080p and 2160p outputs.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "media/output_ring.h"
#include "media/slice_assembly.h"

namespace {
// Four slices of `bytes` each in their core areas, as four cores leave them: coded bytes, then
// zero padding to a bus word. The coded share is about what SpeedHQ gives at high quality.
struct Output {
    std::vector<uint8_t> area;
    compressed_video_frame frame;
    std::array<uint32_t, 4> produced{};

    Output(int width, int height) {
        const uint32_t n = output_ring::slice_bytes(width, height);
        area.assign(size_t(n) * 4, 0);
        frame.core_area = n;
        frame.quality = 90;
        const uint32_t coded = uint32_t(width) * uint32_t(height) / 8;  // 2 bits per pixel per picture
        for (size_t i = 0; i < 4; ++i) {
            uint8_t* p = area.data() + i * n;
            for (uint32_t b = 0; b < coded; ++b) p[b] = uint8_t(b * 131 + 7) | 1;
            produced[i] = (coded + 7) / 8 * 8 + 8;
        }
    }
};

void CollectAndAssemble(benchmark::State& state) {
    Output out(int(state.range(0)), int(state.range(1)));
    for (auto _ : state) {
        slice_assembly::collect(out.frame, out.produced, 4, out.area.data());
        slice_assembly::assemble(out.frame);
        benchmark::DoNotOptimize(out.frame.data.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * out.frame.size);
    state.counters["payload_bytes"] = out.frame.size;
    state.counters["copies_per_picture"] = 1;
}

void PlainMemcpy(benchmark::State& state) {
    Output out(int(state.range(0)), int(state.range(1)));
    slice_assembly::collect(out.frame, out.produced, 4, out.area.data());
    const uint32_t size = out.frame.size;
    // Like assemble, each picture gets a new buffer while the last one is still held (the sender
    // keeps it until the next): reusing one hot buffer would flatter the plain copy.
    std::unique_ptr<uint8_t[]> held;
    for (auto _ : state) {
        auto copy = std::make_unique_for_overwrite<uint8_t[]>(size);
        std::memcpy(copy.get(), out.area.data(), size);
        benchmark::DoNotOptimize(copy.get());
        held = std::move(copy);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * size);
}
}  // namespace

BENCHMARK(CollectAndAssemble)->Args({1920, 1080})->Args({3840, 2160});
BENCHMARK(PlainMemcpy)->Args({1920, 1080})->Args({3840, 2160});
