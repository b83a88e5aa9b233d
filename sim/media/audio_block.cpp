// The audio block's registers, its sample clock and the buffers it fills.
#include "sim/media/audio_block.h"

#include <cstring>

#include <nlohmann/json.hpp>

#include "platform/thread_name.h"

namespace sim {

namespace {
constexpr uint8_t kReset = 0x80;
constexpr uint8_t kStart = 1;
constexpr uint8_t kDone = 0x80;
constexpr uint8_t kOverrun = 0x40;
constexpr uint8_t kDoneInterrupt = 0x80;
constexpr int64_t kNanos = 1000000000;

// Whole samples at `rate` in `nanos`, without overflowing on long runs.
uint64_t samplesIn(int64_t nanos, int rate) {
    const auto seconds = static_cast<uint64_t>(nanos / kNanos), rest = static_cast<uint64_t>(nanos % kNanos);
    return seconds * uint64_t(rate) + rest * uint64_t(rate) / kNanos;
}

// Nanoseconds until `samples` at `rate` have all arrived (rounded up).
int64_t nanosFor(uint64_t samples, int rate) {
    const uint64_t seconds = samples / uint64_t(rate), rest = samples % uint64_t(rate);
    return int64_t(seconds) * kNanos + int64_t((rest * kNanos + uint64_t(rate) - 1) / uint64_t(rate));
}
}  // namespace

AudioBlock::AudioBlock(FpgaModel& fpga_, RawWindow reserved_, int rate, uint32_t busBase_)
    : fpga(fpga_), reserved(reserved_), busBase(busBase_), inputRate(rate), origin(Clock::now()) {
    clock = std::thread(&AudioBlock::run, this);
}

AudioBlock::~AudioBlock() { shutdown(); }

std::optional<int> AudioBlock::parseRate(const std::string& text) {
    if (text == "none") return 0;
    for (int rate : {48000, 44100, 32000, 96000})
        if (text == std::to_string(rate)) return rate;
    return std::nullopt;
}

void AudioBlock::onWrite(uint32_t reg, uint32_t, uint32_t newValue, uint32_t laneMask) {
    std::lock_guard lock(mutex);
    if (reg == 1) {
        const uint32_t channel = newValue >> 24;
        if (channel < kChannels) channelSetting[channel] = newValue;
        return;
    }
    if (reg != 0) return;
    catchUp(Clock::now());
    if (laneMask & 0xff000000u) events &= static_cast<uint8_t>(~(byteOf(newValue, 3) & (kDone | kOverrun)));
    if (laneMask & 0xffu) {
        if (byteOf(newValue, 0) & kReset) {
            current.reset();
            waiting.reset();
            events = 0;
        } else if (byteOf(newValue, 0) & kStart) {
            start();
        }
    }
    wake.notify_all();
}

void AudioBlock::start() {
    const uint32_t address = fpga.peek(kBlock + 2);
    const uint32_t samples = fpga.peek(kBlock + 3);
    const uint64_t physical = uint64_t{address} - busBase;
    const uint64_t bytes = uint64_t{samples} * kChannels * 4;
    if (address < busBase || samples == 0 || physical < reserved.physical ||
        physical + bytes > uint64_t{reserved.physical} + reserved.size) {
        ++stats.refused;
        return;
    }
    const Buffer buffer{address, reserved.base + (physical - reserved.physical), samples, 0};
    if (!current) {
        current = buffer;
        return;
    }
    if (waiting) {
        events |= kOverrun;
        ++stats.overruns;
    }
    waiting = buffer;
}

std::optional<uint32_t> AudioBlock::onRead(uint32_t reg) {
    std::lock_guard lock(mutex);
    if (reg == 1) return static_cast<uint32_t>(inputRate / 100);
    if (reg != 0) return std::nullopt;
    const uint32_t state = !current ? 0u : waiting ? 3u : 1u;
    return state | (fpga.peek(kBlock) & 0x00ffff00u) | uint32_t{events} << 24;
}

void AudioBlock::setRate(int rate) {
    {
        std::lock_guard lock(mutex);
        catchUp(Clock::now());
        origin = Clock::now();
        passed = 0;
        inputRate = rate;
    }
    wake.notify_all();
}

int AudioBlock::rate() const {
    std::lock_guard lock(mutex);
    return inputRate;
}

void AudioBlock::catchUp(Clock::time_point now) {
    if (inputRate <= 0) return;
    const int64_t elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - origin).count();
    const uint64_t due = samplesIn(elapsed, inputRate);
    while (passed < due) {
        if (!current) {
            tone.skip(due - passed, inputRate);  // nowhere to write them: lost
            passed = due;
            break;
        }
        const uint64_t count = std::min<uint64_t>(due - passed, current->samples - current->filled);
        fill(*current, count);
        passed += count;
        if (current->filled == current->samples) complete();
    }
}

void AudioBlock::fill(Buffer& buffer, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        const int32_t sample = tone.next(inputRate);
        uint8_t* at = buffer.memory + size_t{buffer.filled} * kChannels * 4;
        for (uint32_t c = 0; c < kChannels; ++c) std::memcpy(at + 4 * c, &sample, 4);
        ++buffer.filled;
    }
}

void AudioBlock::complete() {
    ++stats.buffers;
    events |= kDone;
    log.push_back({current->address, std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         Clock::now().time_since_epoch()).count()});
    if (log.size() > kCompletionLog) log.pop_front();
    current = waiting;
    waiting.reset();
    if (!current) {
        events |= kOverrun;
        ++stats.overruns;
    }
    if (byteOf(fpga.peek(kBlock), 2) & kDoneInterrupt) fpga.line(kLine).raise();
}

std::optional<AudioBlock::Clock::time_point> AudioBlock::nextCompletion() const {
    if (!current || inputRate <= 0) return std::nullopt;
    return origin + std::chrono::nanoseconds(nanosFor(passed + (current->samples - current->filled), inputRate));
}

void AudioBlock::run() {
    set_thread_name("sim:audio");
    std::unique_lock lock(mutex);
    while (!stopping) {
        catchUp(Clock::now());
        if (const auto until = nextCompletion())
            wake.wait_until(lock, *until);
        else
            wake.wait(lock);
    }
}

AudioBlock::Counters AudioBlock::counters() const {
    std::lock_guard lock(mutex);
    return stats;
}

std::array<uint32_t, AudioBlock::kChannels> AudioBlock::channelWords() const {
    std::lock_guard lock(mutex);
    return channelSetting;
}

std::vector<AudioBlock::Completion> AudioBlock::completions() const {
    std::lock_guard lock(mutex);
    return {log.begin(), log.end()};
}

void AudioBlock::report(nlohmann::json& state) const {
    std::lock_guard lock(mutex);
    auto& audio = state["audio"];
    audio["input_rate"] = inputRate;
    audio["buffers"] = stats.buffers;
    audio["overruns"] = stats.overruns;
    audio["refused"] = stats.refused;
}

void AudioBlock::shutdown() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (clock.joinable()) clock.join();
}

}  // namespace sim
