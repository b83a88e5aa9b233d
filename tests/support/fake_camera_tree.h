// A camera's file system in a scratch directory: the UIO sysfs tree and nodes,
// the reserved-memory device-tree nodes and /dev/mem, for PTZCAM_ROOT.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class FakeCameraTree {
public:
    static constexpr uint32_t kRegisterBytes = 0x1000;
    static constexpr uint32_t kReservedPhysical = 0x00200000;
    static constexpr uint32_t kReservedSize = 0x00040000;
    static constexpr uint32_t kVideoPhysical = 0x00100000;
    static constexpr uint32_t kVideoSize = 0x00080000;
    // Lays out every UIO device; sets PTZCAM_ROOT.
    FakeCameraTree();
    ~FakeCameraTree();
    FakeCameraTree(const FakeCameraTree&) = delete;
    FakeCameraTree& operator=(const FakeCameraTree&) = delete;

    void writeRegCells(const std::string& node, const std::vector<uint32_t>& cells);
    void removeNode(const std::string& node);

private:
    std::string path(const std::string& relative) const { return root + relative; }

    std::string root;
};
