#include "sim/fpga/physical_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>

namespace sim {

PhysicalMemory::PhysicalMemory(uint64_t bytes) {
    fd = memfd_create("ptzcam-sim-mem", MFD_CLOEXEC);
    if (fd < 0) throw std::runtime_error("ptzcam-sim: cannot create the physical memory");
    if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
        ::close(fd);
        throw std::runtime_error("ptzcam-sim: cannot size the physical memory");
    }
}

PhysicalMemory::~PhysicalMemory() { ::close(fd); }

std::string PhysicalMemory::procPath() const {
    return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd);
}

void* PhysicalMemory::map(uint32_t physical, uint32_t size) {
    void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, physical);
    if (address == MAP_FAILED) throw std::runtime_error("ptzcam-sim: cannot map physical memory");
    return address;
}

void PhysicalMemory::unmap(void* address, uint32_t size) { munmap(address, size); }

}  // namespace sim
