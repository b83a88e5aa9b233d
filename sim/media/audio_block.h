// The FPGA's audio input block (block 544): takes buffers by bus address, fills them with the
// input's interleaved 32-bit samples (two channels, channel 0 first) at the input's sample rate
// and interrupts on line 3 when one is full. The input carries the test tone.
//
// Register 0: byte 0 write 0x80 reset (buffers dropped, events cleared), 1 start: the buffer at
// the address in register 2, register 3 samples per channel long, is filled next; read bits 1-0
// state (0 idle, 1 filling, 3 filling with the next buffer waiting). Byte 1 format control (kept).
// Byte 2 bit 7 enables the interrupt on buffer done (bit 6 is kept but does nothing here).
// Byte 3 events (bit 7 buffer done, bit 6 overrun: input samples arrived with no buffer to take
// them, or a waiting buffer was replaced), write 1 to clear.
// Register 1: write the channel setting word (bits 31-24 channel, 23-16 volume, 15-0 set-up,
// kept); read the measured sample rate in 100 Hz units, 0 without input.
// A buffer that is full hands over to the waiting one without losing a sample.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "sim/fpga/fpga_model.h"
#include "sim/fpga/memory_window.h"
#include "sim/fpga/register_block.h"
#include "sim/media/test_tone.h"

namespace sim {

class AudioBlock : public RegisterBlock {
public:
    static constexpr uint32_t kBlock = 544;
    static constexpr uint32_t kWords = 4;
    static constexpr int kLine = 3;
    static constexpr uint32_t kChannels = 2;
    static constexpr size_t kCompletionLog = 4096;

    struct Counters {
        uint64_t buffers = 0;   // buffers filled
        uint64_t overruns = 0;  // buffers filled with no next one waiting, and waiting ones replaced
        uint64_t refused = 0;   // starts with a buffer outside reserved memory or of no length
    };
    struct Completion {
        uint32_t address = 0;      // as the block was given it
        int64_t steadyNanos = 0;   // steady clock when the interrupt was raised
    };

    // `rate` in Hz, 0 for no input. `busBase` is where the block's bus sees physical address 0.
    AudioBlock(FpgaModel& fpga, RawWindow reserved, int rate, uint32_t busBase);
    ~AudioBlock() override;
    AudioBlock(const AudioBlock&) = delete;
    AudioBlock& operator=(const AudioBlock&) = delete;

    // "48000", "44100", "32000", "96000" or "none" (0); nothing for any other text.
    static std::optional<int> parseRate(const std::string& text);

    void onWrite(uint32_t reg, uint32_t oldValue, uint32_t newValue, uint32_t laneMask) override;
    std::optional<uint32_t> onRead(uint32_t reg) override;

    // The input's sample rate changes (0: the input goes silent and stops clocking).
    void setRate(int rate);
    int rate() const;
    Counters counters() const;
    std::array<uint32_t, kChannels> channelWords() const;
    // The latest completions, oldest first (at most kCompletionLog).
    std::vector<Completion> completions() const;

    void report(nlohmann::json& state) const;
    void shutdown();

private:
    using Clock = std::chrono::steady_clock;
    struct Buffer {
        uint32_t address = 0;
        uint8_t* memory = nullptr;
        uint32_t samples = 0;
        uint32_t filled = 0;
    };

    void run();
    void start();
    void catchUp(Clock::time_point now);
    void fill(Buffer& buffer, uint64_t count);
    void complete();
    std::optional<Clock::time_point> nextCompletion() const;

    FpgaModel& fpga;
    const RawWindow reserved;
    const uint32_t busBase;
    mutable std::mutex mutex;
    std::condition_variable wake;
    int inputRate;
    Clock::time_point origin;  // the sample clock's start at the current rate
    uint64_t passed = 0;       // samples since origin the block has dealt with
    TestTone tone;
    std::optional<Buffer> current, waiting;
    uint8_t events = 0;
    std::array<uint32_t, kChannels> channelSetting{};
    Counters stats;
    std::deque<Completion> log;
    bool stopping = false;
    std::thread clock;
};

}  // namespace sim
