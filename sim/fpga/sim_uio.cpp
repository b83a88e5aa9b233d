#include "sim/fpga/sim_uio.h"

namespace sim {

SimUio::SimUio(std::shared_ptr<FpgaModel> fpga_, int number_, std::string name_, int line_)
    : fpga(std::move(fpga_)), number(number_), driverName(std::move(name_)), line(line_) {}

int SimUio::open() {
    opened = true;
    if (!hasWindow()) seen = fpga->line(line).eventCount();
    return 0;
}

uint32_t SimUio::memSize(int map) const { return hasWindow() && map == 0 ? FpgaModel::kWindowBytes : 0; }

uint32_t SimUio::memAddr(int map) const { return hasWindow() && map == 0 ? FpgaModel::kWindowPhysical : 0; }

uint32_t SimUio::read32(int map, uint32_t byteOffset) { return windowOpen(map) ? fpga->read32(byteOffset) : 0; }

void SimUio::write32(int map, uint32_t byteOffset, uint32_t value) {
    if (windowOpen(map)) fpga->write32(byteOffset, value);
}

uint8_t SimUio::read8(int map, uint32_t byteOffset) { return windowOpen(map) ? fpga->read8(byteOffset) : 0; }

void SimUio::write8(int map, uint32_t byteOffset, uint8_t value) {
    if (windowOpen(map)) fpga->write8(byteOffset, value);
}

int SimUio::enableIrq() {
    if (!opened || hasWindow()) return -1;
    fpga->line(line).unmask();
    return 0;
}

int SimUio::disableIrq() {
    if (!opened || hasWindow()) return -1;
    fpga->line(line).mask();
    return 0;
}

int SimUio::irqWaitTimeout(std::optional<std::chrono::milliseconds> timeout) {
    if (!opened || hasWindow()) return -1;
    return fpga->line(line).wait(seen, timeout);
}

}  // namespace sim
