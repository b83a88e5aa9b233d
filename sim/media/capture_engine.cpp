// The capture engine's registers, its start queue and the pictures it writes.
#include "sim/media/capture_engine.h"

namespace sim {

namespace {
constexpr uint8_t kReset = 0x80;
constexpr uint8_t kStart = 1;
constexpr uint8_t kDone = 0x80;
constexpr uint8_t kOverrun = 0x40;
constexpr uint8_t kFirstField = 0x08;

}  // namespace

CaptureEngine::CaptureEngine(FpgaModel& fpga_, uint32_t block_, int line_, bool fullEngine, RawWindow raw_)
    : fpga(fpga_), block(block_), line(line_), full(fullEngine), raw(raw_) {}

void CaptureEngine::onWrite(uint32_t reg, uint32_t, uint32_t newValue, uint32_t laneMask) {
    if (reg != 0) return;
    std::lock_guard lock(mutex);
    if (laneMask & 0xff000000u) events &= static_cast<uint8_t>(~(byteOf(newValue, 3) & (kDone | kOverrun)));
    if (laneMask & 0xffu) {
        if (byteOf(newValue, 0) & kReset)
            reset();
        else if (byteOf(newValue, 0) & kStart)
            start();
    }
}

void CaptureEngine::reset() {
    current.reset();
    queued.reset();
    events = 0;
}

void CaptureEngine::start() {
    const Job job{fpga.peek(block + 2)};
    if (!current) {
        current = job;
        ++stats.idleStarts;
    } else if (!queued) {
        queued = job;
    } else {
        queued = job;
        events |= kOverrun;
        ++stats.overruns;
    }
}

uint32_t CaptureEngine::stateBits() const {
    if (!current) return 0;
    if (!current->started) return 1;
    return queued ? 3 : 2;
}

bool CaptureEngine::nextStartIsFirstField() const {
    // A start now waits behind a capture that has not begun yet; otherwise it takes the next field.
    const uint64_t field = lastBoundary + 1 + ((current && !current->started) ? 1 : 0);
    return field % 2 == 0;
}

std::optional<uint32_t> CaptureEngine::onRead(uint32_t reg) {
    if (reg != 0) return std::nullopt;
    std::lock_guard lock(mutex);
    const uint32_t stored = fpga.peek(block);
    uint8_t mode = byteOf(stored, 1) & static_cast<uint8_t>(~kFirstField);
    if (full && interlaced && nextStartIsFirstField()) mode |= kFirstField;
    return stateBits() | uint32_t{mode} << 8 | (stored & 0x00ff0000u) | uint32_t{events} << 24;
}

void CaptureEngine::abort() {
    std::lock_guard lock(mutex);
    stats.aborted += (current ? 1 : 0) + (queued ? 1 : 0);
    current.reset();
    queued.reset();
}

bool CaptureEngine::geometry(const InputFormat& input, uint8_t mode, int& width, int& frameHeight) const {
    int divisor = 0;
    if (full)
        divisor = mode == 1 ? 1 : 0;
    else
        divisor = mode == 0 ? 2 : mode == 1 ? 3 : 0;
    if (divisor == 0) return false;  // 4:2:0 and unknown modes: the model writes no pixels
    width = input.width / divisor;
    frameHeight = input.height / divisor;
    return true;
}

void CaptureEngine::write(const Job& job, const InputFormat& input, uint8_t mode) {
    int width = 0, frameHeight = 0;
    if (!geometry(input, mode, width, frameHeight)) return;
    if (!picture || picture->width() != width || picture->frameHeight() != frameHeight)
        picture = std::make_unique<TestPicture>(width, frameHeight);
    const int fieldIndex = input.interlaced ? static_cast<int>(job.field % 2) : 0;
    const int lines = input.interlaced ? frameHeight / 2 : frameHeight;
    const uint64_t number = input.interlaced ? job.field / 2 : job.field;
    const auto stride = static_cast<uint64_t>(width) * 2;
    const uint64_t windowEnd = uint64_t{raw.physical} + raw.size;
    int written = 0;
    for (int i = 0; i < lines; ++i) {
        const uint64_t at = job.address + static_cast<uint64_t>(i) * stride;
        if (at < raw.physical || at + stride > windowEnd) break;  // never outside the raw window
        picture->renderLine(raw.base + (at - raw.physical), input.interlaced ? 2 * i + fieldIndex : i, number);
        ++written;
    }
    std::lock_guard lock(mutex);
    if (written < lines) ++stats.clipped;
    stats.lastAddress = job.address;
    stats.lastWidth = width;
    stats.lastHeight = lines;
    stats.lastStride = static_cast<int>(stride);
    stats.lastField = input.interlaced ? fieldIndex : 2;
}

bool CaptureEngine::boundary(const InputFormat& input, uint64_t field) {
    std::optional<Job> done;
    uint8_t mode = 0;
    {
        std::lock_guard lock(mutex);
        lastBoundary = field;
        interlaced = input.interlaced;
        mode = byteOf(fpga.peek(block), 1);
        if (current && current->started) {
            done = current;
            current = queued;
            queued.reset();
        }
        if (current && !current->started) current->started = true, current->field = field;
    }
    if (!done) return false;
    write(*done, input, mode);
    std::lock_guard lock(mutex);
    events |= kDone;
    ++stats.captured;
    return (byteOf(fpga.peek(block), 2) & kDone) != 0;
}

void CaptureEngine::interrupt() { fpga.line(line).raise(); }

CaptureEngine::Counters CaptureEngine::counters() const {
    std::lock_guard lock(mutex);
    return stats;
}

}  // namespace sim
