// A UIO device of the FPGA model: the register window (ndi_regs) or one interrupt line.
#pragma once

#include <memory>
#include <string>

#include "sim/fpga/fpga_model.h"
#include "platform/uio_device.h"

namespace sim {

class SimUio : public platform::UioDevice {
public:
    // line < 0: the register window; otherwise the interrupt line of that number.
    SimUio(std::shared_ptr<FpgaModel> fpga, int number, std::string name, int line);

    int open() override;
    void close() override { opened = false; }
    std::string name() const override { return driverName; }
    std::string devname() const override { return "/dev/uio" + std::to_string(number); }
    int maxmap() const override { return hasWindow() ? 1 : 0; }
    uint32_t memSize(int map) const override;
    uint32_t memAddr(int map) const override;
    uint32_t offset(int) const override { return 0; }

    uint32_t read32(int map, uint32_t byteOffset) override;
    void write32(int map, uint32_t byteOffset, uint32_t value) override;
    uint8_t read8(int map, uint32_t byteOffset) override;
    void write8(int map, uint32_t byteOffset, uint8_t value) override;

    int enableIrq() override;
    int disableIrq() override;
    int irqWaitTimeout(std::optional<std::chrono::milliseconds> timeout) override;

private:
    bool hasWindow() const { return line < 0; }
    bool windowOpen(int map) const { return opened && hasWindow() && map == 0; }

    std::shared_ptr<FpgaModel> fpga;
    int number;
    std::string driverName;
    int line;
    bool opened = false;
    uint32_t seen = 0;  // the event count this reader has taken, as an open file keeps it
};

}  // namespace sim
