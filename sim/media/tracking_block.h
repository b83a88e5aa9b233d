// The FPGA's signal tracking block (block 560): measures the input and interrupts on changes.
// Register 0 reads bit 7 1920x1080 progressive, bit 6 1920x1080 interlaced, bit 5 1280x720
// progressive, bits 31-16 the picture period in microseconds (a field's when interlaced).
// Byte 0 written: bit 0 enables the change interrupt, bit 2 acknowledges it.
#pragma once

#include <atomic>
#include <cstdint>

#include "sim/fpga/fpga_model.h"
#include "sim/fpga/register_block.h"
#include "sim/media/video_input.h"

namespace sim {

class TrackingBlock : public RegisterBlock {
public:
    static constexpr uint32_t kBlock = 560;
    static constexpr int kLine = 4;

    TrackingBlock(FpgaModel& fpga, VideoInput& input);

    static uint32_t measure(const InputFormat& format);

    void onWrite(uint32_t reg, uint32_t oldValue, uint32_t newValue, uint32_t laneMask) override;
    std::optional<uint32_t> onRead(uint32_t reg) override;
    uint64_t changesSignalled() const { return signalled.load(); }

private:
    void inputChanged(const InputFormat& format);

    FpgaModel& fpga;
    std::atomic<uint32_t> measurement;
    std::atomic<uint8_t> control{0};
    std::atomic<uint64_t> signalled{0};
};

}  // namespace sim
