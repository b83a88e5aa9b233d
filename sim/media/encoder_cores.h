// The FPGA's SpeedHQ encoder cores (block 0, core c at registers 64 c + r): quantisation table
// slots, one job per core, real SpeedHQ slices written to each core's output area, interrupt 0
// when every programmed core is done.
//
// Registers: 0 control (byte 0 bit 0 start; byte 2 bit 7 interrupt enable; byte 3 bit 7 done,
// write 1 to clear; a 32-bit write of 0 resets the core), 2 table write port (bit 31, slot 30-26,
// index 25-20, value 15-0), 3 job word (slot 7-0, first slice 11-8, last slice 15-12, 4:2:0 bit 16,
// width cut to 16 bit 17), 4 source (physical, raw window), 5 output (bus address), 6-8 width,
// height, stride, 11-14 produced bytes per slice, 15 present.
// A core's output window holds n = (width + 16)(height + 16) / 2 bytes per slice of its job; each
// slice is padded with zeros to a bus word. A slice that does not fit is not written: it reports
// more bytes than the window holds, and the slices after it report none.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "sim/media/capture_engine.h"
#include "sim/fpga/fpga_model.h"
#include "sim/fpga/register_block.h"
#include "sim/media/speedhq_encoder.h"

namespace sim {

class EncoderCores : public RegisterBlock {
public:
    static constexpr uint32_t kBlock = 0;
    static constexpr uint32_t kCoreWords = 64;
    static constexpr uint32_t kWords = 4 * kCoreWords;
    static constexpr uint32_t kBusWord = 8;
    static constexpr int kSlots = 8;

    enum class Fault { none, overflow, stall };

    struct Counters {
        uint64_t frames = 0;      // batches completed (interrupts raised)
        uint64_t jobs = 0;        // core jobs completed
        uint64_t overflows = 0;   // jobs whose output did not fit
        uint64_t tableLoads = 0;  // complete tables written into a slot of core 0
        uint64_t modelErrors = 0; // programming the cores do not accept (see lastError)
        uint64_t inexact = 0;     // jobs coded at a neighbouring quality the engine can reach
        int lastQuality = -1;
    };
    // How long the cores took over a picture: first start to the last core done (steady clock).
    struct BatchTiming {
        uint32_t width = 0, height = 0;
        int64_t startedNanos = 0, doneNanos = 0;
    };
    static constexpr size_t kTimings = 1024;

    EncoderCores(FpgaModel& fpga, int cores, RawWindow raw, RawWindow reserved);
    ~EncoderCores() override;
    EncoderCores(const EncoderCores&) = delete;
    EncoderCores& operator=(const EncoderCores&) = delete;

    void onWrite(uint32_t reg, uint32_t oldValue, uint32_t newValue, uint32_t laneMask) override;
    std::optional<uint32_t> onRead(uint32_t reg) override;

    int cores() const { return coreCount; }
    // The next job started on `core` overflows its window, or never finishes (until a reset).
    // A reset before that job keeps the fault waiting for it.
    void inject(Fault fault, int core = 0);
    Counters counters() const;
    std::string lastError() const;
    std::vector<BatchTiming> batchTimings() const;  // the most recent, oldest first
    void report(nlohmann::json& state) const;
    void shutdown();

private:
    struct Core {
        std::array<std::array<uint16_t, 64>, kSlots> tables{};
        std::array<uint64_t, kSlots> written{};  // entries written since the slot's last full load
        std::array<uint32_t, 4> produced{};
        bool programmed = false, busy = false;
        uint8_t events = 0;
        uint64_t generation = 0;
        Fault fault = Fault::none;
    };
    struct Job {
        int core;
        uint64_t generation;
        uint64_t batch;
        std::array<uint32_t, 6> regs;  // job word, source, output, width, height, stride
        Fault fault;
        std::array<uint16_t, 64> table;
        bool tableComplete;
    };

    void writeTable(Core& core, bool first, uint32_t word);
    void start(int c);
    void run();
    void execute(const Job& job);
    bool encodeJob(const Job& job, int quality, SpeedHqEncoder::Slices& out);
    void finish(const Job& job, const std::array<uint32_t, 4>& produced, bool overflow);
    int qualityOf(const std::array<uint16_t, 64>& table) const;
    void error(const std::string& text);

    FpgaModel& fpga;
    const int coreCount;
    RawWindow raw, reserved;
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::array<Core, 4> core{};
    std::deque<Job> jobs;
    bool stopping = false;
    Counters stats;
    std::string lastText;
    uint64_t batch = 0;  // new pictures start when every core is idle
    int64_t batchStarted = 0;
    std::deque<BatchTiming> timings;
    // The worker's encoding cache: one picture serves all cores of a batch.
    SpeedHqEncoder encoder;
    SpeedHqEncoder::Slices cached;
    std::array<uint64_t, 7> cachedKey{};
    bool cacheValid = false;
    std::thread worker;
};

}  // namespace sim
