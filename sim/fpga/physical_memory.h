// The processor's physical memory as /dev/mem shows it: a sparse memfd, so the
// FPGA models and the application share pages that never touch a disk.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

class PhysicalMemory {
public:
    explicit PhysicalMemory(uint64_t bytes);
    ~PhysicalMemory();
    PhysicalMemory(const PhysicalMemory&) = delete;
    PhysicalMemory& operator=(const PhysicalMemory&) = delete;

    // A path that opens this memory from any process: /proc/<pid>/fd/<fd>.
    std::string procPath() const;
    // The model's own view of [physical, physical + size).
    void* map(uint32_t physical, uint32_t size);
    void unmap(void* address, uint32_t size);

private:
    int fd = -1;
};

}  // namespace sim
