// The file system the application sees under PTZCAM_ROOT: /dev/mem and the
// device-tree nodes of the reserved memory. Made in a scratch directory when
// no root is given.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/fpga/physical_memory.h"
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

private:
    void layOut(const SimSettings& settings);
    void writeReg(const std::string& node, uint32_t address, uint32_t size, int cells);

    std::string root;
    bool ownsRoot = false;
    std::unique_ptr<PhysicalMemory> physical;
};

}  // namespace sim
