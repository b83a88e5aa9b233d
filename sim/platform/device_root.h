// The file system the application sees under PTZCAM_ROOT: /dev/mem, the
// device-tree nodes of the reserved memory, the serial port /dev/ttyS1 (a
// pseudo-terminal) and the EEPROM's sysfs file. Made in a scratch directory
// when no root is given.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/fpga/physical_memory.h"
#include "sim/platform/pseudo_terminal.h"
#include "sim/app/sim_settings.h"

namespace sim {

struct MemoryLayout {
    static constexpr uint32_t kVideoPhysical = 0x10000000;  // raw capture window
    static constexpr uint32_t kVideoSize = 0x10000000;
    static constexpr uint32_t kReservedPhysical = 0x30000000;
    static constexpr uint32_t kReservedSize = 0x8000000;
    static constexpr uint64_t kTop = uint64_t{kReservedPhysical} + kReservedSize;
};

class DeviceRoot {
public:
    explicit DeviceRoot(const SimSettings& settings);
    ~DeviceRoot();
    DeviceRoot(const DeviceRoot&) = delete;
    DeviceRoot& operator=(const DeviceRoot&) = delete;

    const std::string& path() const { return root; }
    bool scratch() const { return ownsRoot; }
    PhysicalMemory& memory() { return *physical; }
    // /dev/ttyS1: silent unless a model serves its master side.
    PseudoTerminal& ttyS1() { return *serialPort; }
    // The at24 EEPROM file: 256 bytes, erased (0xFF) when the root is new, kept otherwise.
    std::string eepromFile() const;
    static constexpr const char* kEepromPath = "/sys/bus/i2c/drivers/at24/0-0050/eeprom";
    static constexpr size_t kEepromBytes = 256;

private:
    void layOut(const SimSettings& settings);
    void writeReg(const std::string& node, uint32_t address, uint32_t size, int cells);

    std::string root;
    bool ownsRoot = false;
    std::unique_ptr<PhysicalMemory> physical;
    std::unique_ptr<PseudoTerminal> serialPort;
};

}  // namespace sim
