// The tracking block's measurement and change interrupt.
#include "sim/media/tracking_block.h"

namespace sim {

TrackingBlock::TrackingBlock(FpgaModel& fpga_, VideoInput& input) : fpga(fpga_), measurement(measure(input.current())) {
    input.listen([this](const InputFormat& format) { inputChanged(format); });
}

uint32_t TrackingBlock::measure(const InputFormat& f) {
    if (!f.present) return 0;
    uint32_t bits = 0;
    if (f.width == 1920 && f.height == 1080) bits = f.interlaced ? 0x40 : 0x80;
    if (f.width == 1280 && f.height == 720 && !f.interlaced) bits = 0x20;
    return (f.periodMicros() & 0xffff) << 16 | bits;
}

void TrackingBlock::onWrite(uint32_t reg, uint32_t, uint32_t newValue, uint32_t laneMask) {
    if (reg == 0 && (laneMask & 0xff)) control = static_cast<uint8_t>(newValue);
}

std::optional<uint32_t> TrackingBlock::onRead(uint32_t reg) {
    if (reg != 0) return std::nullopt;
    return measurement.load() | (control.load() & 0x07u);
}

void TrackingBlock::inputChanged(const InputFormat& format) {
    const uint32_t next = measure(format);
    if (measurement.exchange(next) == next) return;
    if ((control.load() & 1) == 0) return;
    ++signalled;
    fpga.line(kLine).raise();
}

}  // namespace sim
