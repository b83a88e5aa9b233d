// The encoder cores' registers, their job queue and the worker that codes and writes the slices.
#include "sim/media/encoder_cores.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include <nlohmann/json.hpp>

#include "platform/thread_name.h"

namespace sim {

namespace {
constexpr uint8_t kDone = 0x80;
constexpr uint8_t kIrqEnable = 0x80;

// The decoder's dequantisation steps are M (100 - q) / 16 with M the MPEG default intra matrix;
// a core's table holds their Q15 reciprocals.
constexpr uint8_t kIntraMatrix[64] = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83,
};

bool tableMatches(const std::array<uint16_t, 64>& table, int quality) {
    if (table[0] != 32768) return false;
    const double scale = 100 - quality;
    for (size_t i = 1; i < 64; ++i) {
        const double expected = std::min(32768.0, 524288.0 / (kIntraMatrix[i] * scale));
        if (std::fabs(table[i] - expected) > 0.5 + 1e-9) return false;
    }
    return true;
}

int64_t steadyNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

uint32_t padded(size_t bytes) { return uint32_t((bytes + EncoderCores::kBusWord - 1) / EncoderCores::kBusWord * EncoderCores::kBusWord); }
}  // namespace

EncoderCores::EncoderCores(FpgaModel& fpga_, int cores, RawWindow raw_, RawWindow reserved_)
    : fpga(fpga_), coreCount(cores), raw(raw_), reserved(reserved_) {
    worker = std::thread(&EncoderCores::run, this);
}

EncoderCores::~EncoderCores() { shutdown(); }

void EncoderCores::shutdown() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (worker.joinable()) worker.join();
}

void EncoderCores::onWrite(uint32_t reg, uint32_t, uint32_t newValue, uint32_t laneMask) {
    const int c = int(reg / kCoreWords);
    const uint32_t r = reg % kCoreWords;
    if (c >= coreCount) return;  // no core there: the write goes nowhere
    std::unique_lock lock(mutex);
    Core& k = core[size_t(c)];
    if (r == 2) {
        writeTable(k, c == 0, newValue);
    } else if (r == 3) {
        k.programmed = true;
    } else if (r == 0) {
        if (laneMask == 0xffffffffu && newValue == 0) {
            ++k.generation;  // reset: whatever the core was doing is forgotten
            k.busy = k.programmed = false;
            k.events = 0;  // an injected fault stays: it waits for the next job
            return;
        }
        if (laneMask & 0xff000000u) k.events &= uint8_t(~(newValue >> 24));
        if ((laneMask & 0xffu) && (newValue & 1)) {
            lock.unlock();
            start(c);
        }
    }
}

void EncoderCores::writeTable(Core& k, bool first, uint32_t word) {
    const uint32_t slot = (word >> 26) & 0x1f, index = (word >> 20) & 0x3f;
    if (!(word & 0x80000000u) || slot >= kSlots) {
        error("table word " + std::to_string(word) + " names no slot");
        return;
    }
    // Entry 0 begins a load; the slot is usable once all 64 entries of that load arrived.
    if (index == 0) k.written[slot] = 0;
    k.tables[slot][index] = uint16_t(word);
    const bool wasComplete = k.written[slot] == ~uint64_t{0};
    k.written[slot] |= uint64_t{1} << index;
    if (first && !wasComplete && k.written[slot] == ~uint64_t{0}) ++stats.tableLoads;
}

void EncoderCores::start(int c) {
    std::lock_guard lock(mutex);
    Core& k = core[size_t(c)];
    if (k.busy) {
        error("start on a busy core");
        return;
    }
    bool idle = true;
    for (int i = 0; i < coreCount; ++i) idle = idle && !core[size_t(i)].busy;
    if (idle) {
        ++batch;
        batchStarted = steadyNanos();
    }
    Job job{c, k.generation, batch, {}, k.fault, {}, false};
    for (size_t i = 0; i < job.regs.size(); ++i) job.regs[i] = fpga.peek(kBlock + uint32_t(c) * kCoreWords + 3 + uint32_t(i));
    const uint32_t slot = job.regs[0] & 0xff;
    if (slot < kSlots) {
        job.table = k.tables[slot];
        job.tableComplete = k.written[slot] == ~uint64_t{0};
    }
    k.fault = Fault::none;
    k.busy = true;
    k.programmed = false;
    k.produced = {};
    jobs.push_back(job);
    wake.notify_one();
}

std::optional<uint32_t> EncoderCores::onRead(uint32_t reg) {
    const int c = int(reg / kCoreWords);
    const uint32_t r = reg % kCoreWords;
    if (c >= coreCount) return 0u;
    std::lock_guard lock(mutex);
    const Core& k = core[size_t(c)];
    if (r == 15) return 1u;
    if (r >= 11 && r <= 14) return k.produced[r - 11];
    if (r == 0) return (fpga.peek(kBlock + reg) & 0x00ffff00u) | uint32_t{k.events} << 24 | (k.busy ? 1u : 0u);
    return std::nullopt;
}

void EncoderCores::inject(Fault fault, int c) {
    std::lock_guard lock(mutex);
    if (c >= 0 && c < coreCount) core[size_t(c)].fault = fault;
}

EncoderCores::Counters EncoderCores::counters() const {
    std::lock_guard lock(mutex);
    return stats;
}

std::string EncoderCores::lastError() const {
    std::lock_guard lock(mutex);
    return lastText;
}

std::vector<EncoderCores::BatchTiming> EncoderCores::batchTimings() const {
    std::lock_guard lock(mutex);
    return {timings.begin(), timings.end()};
}

void EncoderCores::error(const std::string& text) {
    ++stats.modelErrors;
    lastText = text;
}

void EncoderCores::report(nlohmann::json& state) const {
    std::lock_guard lock(mutex);
    auto& c = state["compress"];
    c["cores"] = coreCount;
    c["frames"] = stats.frames;
    c["overflows"] = stats.overflows;
    c["table_loads"] = stats.tableLoads;
    c["model_errors"] = stats.modelErrors;
    c["inexact_quality_jobs"] = stats.inexact;
    c["last_model_error"] = lastText;
    c["quality"] = stats.lastQuality;
}

int EncoderCores::qualityOf(const std::array<uint16_t, 64>& table) const {
    for (int q = 0; q < 100; ++q)
        if (tableMatches(table, q)) return q;
    return -1;
}

void EncoderCores::run() {
    set_thread_name("sim:encoder");
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !jobs.empty(); });
        if (stopping) return;
        const Job job = jobs.front();
        jobs.pop_front();
        lock.unlock();
        execute(job);
        lock.lock();
    }
}

bool EncoderCores::encodeJob(const Job& job, int quality, SpeedHqEncoder::Slices& out) {
    const uint32_t source = job.regs[1], width = job.regs[3], height = job.regs[4], stride = job.regs[5];
    const uint64_t end = uint64_t{source} + uint64_t{stride} * (height - 1) + uint64_t{width} * 2;
    if (source < raw.physical || end > uint64_t{raw.physical} + raw.size || stride < width * 2) return false;
    const std::array<uint64_t, 7> key{job.batch, source, width, height, stride, uint64_t(quality), 1};
    if (cacheValid && key == cachedKey) {
        out = cached;
        return true;
    }
    cacheValid = encoder.encode(raw.base + (source - raw.physical), int(width), int(height), int(stride), quality, cached);
    cachedKey = key;
    out = cached;
    return cacheValid;
}

void EncoderCores::execute(const Job& job) {
    const uint32_t word = job.regs[0], output = job.regs[2], width = job.regs[3], height = job.regs[4];
    const uint32_t first = (word >> 8) & 0xf, last = (word >> 12) & 0xf;
    const bool is420 = word & (1u << 16), cut = word & (1u << 17);
    std::string problem;
    int quality = job.tableComplete ? qualityOf(job.table) : -1;
    if ((word & 0xff) >= kSlots) problem = "job names table slot " + std::to_string(word & 0xff);
    else if (!job.tableComplete) problem = "job uses a slot that was never loaded";
    else if (quality < 0) problem = "the table in slot " + std::to_string(word & 0xff) + " is no SpeedHQ quality";
    else if (first > last || last > 3) problem = "job slices " + std::to_string(first) + ".." + std::to_string(last);
    else if (is420) problem = "4:2:0 sources are not modelled";
    else if (width == 0 || height == 0 || width % 16 != 0 || (width % 64 != 0 && !cut)) problem = "coded width " + std::to_string(width);

    std::array<uint32_t, 4> produced{};
    bool overflow = false;
    SpeedHqEncoder::Slices slices;
    const bool codable = quality >= 0 && !is420 && first <= last && last <= 3 && width % 16 == 0 && width > 0 && height > 0;
    if (codable && !encodeJob(job, quality, slices)) problem = "source outside the raw window or not codable";
    else if (codable && slices.quality != SpeedHqEncoder::nearestExact(quality)) problem = "engine coded quality " + std::to_string(slices.quality);
    if (!problem.empty()) {
        std::lock_guard lock(mutex);
        error(problem);
    }
    if (codable && problem.find("outside") == std::string::npos) {
        const uint32_t window = (width + 16) * (height + 16) / 2 * (last - first + 1);
        const uint32_t capacity = job.fault == Fault::overflow ? 0 : window;
        if (output < reserved.physical || uint64_t{output} + window > uint64_t{reserved.physical} + reserved.size) {
            std::lock_guard lock(mutex);
            error("output area outside reserved memory");
        } else {
            uint8_t* area = reserved.base + (output - reserved.physical);
            uint32_t used = 0;
            for (uint32_t i = first; i <= last; ++i) {
                const auto& s = slices.slice[i];
                const uint32_t size = padded(s.size());
                if (used + size > capacity) {
                    produced[i] = window + kBusWord;
                    overflow = true;
                    break;
                }
                std::memcpy(area + used, s.data(), s.size());
                std::memset(area + used + s.size(), 0, size - s.size());
                produced[i] = size;
                used += size;
            }
        }
    }
    if (job.fault == Fault::stall) return;  // the core never reports done
    {
        std::lock_guard lock(mutex);
        stats.lastQuality = quality;
        if (quality >= 0 && !SpeedHqEncoder::exact(quality)) ++stats.inexact;
    }
    finish(job, produced, overflow);
}

void EncoderCores::finish(const Job& job, const std::array<uint32_t, 4>& produced, bool overflow) {
    bool raise = false;
    {
        std::lock_guard lock(mutex);
        Core& k = core[size_t(job.core)];
        if (k.generation != job.generation || !k.busy) return;  // reset while it ran
        k.produced = produced;
        k.busy = false;
        k.events |= kDone;
        ++stats.jobs;
        stats.overflows += overflow ? 1 : 0;
        bool all = true;
        for (int i = 0; i < coreCount; ++i) all = all && !core[size_t(i)].busy && !core[size_t(i)].programmed;
        if (all) {
            ++stats.frames;
            timings.push_back({job.regs[3], job.regs[4], batchStarted, steadyNanos()});
            if (timings.size() > kTimings) timings.pop_front();
            raise = ((fpga.peek(kBlock) >> 16) & kIrqEnable) != 0;
        }
    }
    if (raise) fpga.line(0).raise();
}

}  // namespace sim
