// One video capture engine of the FPGA (block 512 full, 528 preview): takes start requests with a
// buffer address, captures the next whole field or frame of the input into the raw window, and
// reports completion through its event bits and interrupt line.
//
// Register 0: byte 0 write 0x80 reset, 1 start (address from register 2); read bits 1-0 state
// (0 idle, 1 waiting for the next field, 2 capturing, 3 capturing with a start queued).
// Byte 1 mode (full: 1 = 4:2:2; preview: 0 = half, 1 = third of the input size); read bit 3 on the
// full engine: the field a start made now would capture is a first field.
// Byte 2 bit 7 enables the interrupt on capture done (bit 6 is kept but does nothing here).
// Byte 3 events (bit 7 done, bit 6 overrun: a start replaced a queued one, never interrupting),
// write 1 to clear.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "sim/fpga/fpga_model.h"
#include "sim/fpga/memory_window.h"
#include "sim/media/input_format.h"
#include "sim/fpga/register_block.h"
#include "sim/media/test_picture.h"

namespace sim {

class CaptureEngine : public RegisterBlock {
public:
    struct Counters {
        uint64_t captured = 0;     // pictures written
        uint64_t idleStarts = 0;   // starts that found the engine idle
        uint64_t overruns = 0;
        uint64_t clipped = 0;      // captures cut short at the raw window's edge
        uint64_t aborted = 0;      // captures lost to an input change
        uint32_t lastAddress = 0;
        int lastWidth = 0, lastHeight = 0, lastStride = 0, lastField = 2;
    };

    CaptureEngine(FpgaModel& fpga, uint32_t block, int line, bool fullEngine, RawWindow raw);

    void onWrite(uint32_t reg, uint32_t oldValue, uint32_t newValue, uint32_t laneMask) override;
    std::optional<uint32_t> onRead(uint32_t reg) override;

    // The input's picture number `field` begins: the running capture ends, a waiting one begins.
    // True when the capture that ended wants its interrupt, which the caller raises with interrupt()
    // once every engine has finished the picture.
    bool boundary(const InputFormat& input, uint64_t field);
    void interrupt();
    // The input went away or changed format: what was in flight never completes.
    void abort();
    Counters counters() const;

private:
    struct Job {
        uint32_t address;
        bool started = false;
        uint64_t field = 0;
    };

    void start();
    void reset();
    uint32_t stateBits() const;
    bool nextStartIsFirstField() const;
    void write(const Job& job, const InputFormat& input, uint8_t mode);
    bool geometry(const InputFormat& input, uint8_t mode, int& width, int& frameHeight) const;

    FpgaModel& fpga;
    uint32_t block;
    int line;
    bool full;
    RawWindow raw;
    mutable std::mutex mutex;
    std::optional<Job> current, queued;
    uint8_t events = 0;
    uint64_t lastBoundary = 0;
    bool interlaced = false;
    Counters stats;
    std::unique_ptr<TestPicture> picture;  // used by the clock thread only
};

}  // namespace sim
