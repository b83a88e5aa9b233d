// A UIO device on Linux: maps described by /sys/class/uio, memory and interrupt through /dev/uioN.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uio_device.h"

namespace platform {

// One memory map as sysfs describes it.
struct UioMapInfo {
    uint64_t addr = 0;
    uint64_t size = 0;
    uint64_t offset = 0;  // from the start of the mapped page to the device memory
};

class LinuxUio : public UioDevice {
public:
    LinuxUio(int number, std::string name, std::vector<UioMapInfo> maps);
    ~LinuxUio() override;
    LinuxUio(const LinuxUio&) = delete;
    LinuxUio& operator=(const LinuxUio&) = delete;

    int open() override;
    void close() override;

    std::string name() const override { return name_; }
    std::string devname() const override;

    int maxmap() const override { return static_cast<int>(maps_.size()); }
    uint32_t memSize(int map) const override;
    uint32_t memAddr(int map) const override;
    uint32_t offset(int map) const override;

    uint32_t read32(int map, uint32_t byteOffset) override;
    void write32(int map, uint32_t byteOffset, uint32_t value) override;
    uint8_t read8(int map, uint32_t byteOffset) override;
    void write8(int map, uint32_t byteOffset, uint8_t value) override;

    int enableIrq() override { return writeIrqControl(1); }
    int disableIrq() override { return writeIrqControl(0); }
    int irqWaitTimeout(std::optional<std::chrono::milliseconds> timeout) override;

private:
    struct Mapping {
        void* base = nullptr;
        size_t length = 0;
    };

    const UioMapInfo* info(int map) const;
    int mapAll();
    // The register's address when `width` bytes at byteOffset lie inside a mapped map
    // and are naturally aligned; null otherwise.
    volatile void* registerAt(int map, uint32_t byteOffset, size_t width) const;
    int writeIrqControl(uint32_t value);
    bool waitReadable(std::chrono::milliseconds timeout) const;
    int readEventCount();

    int number_;
    std::string name_;
    std::vector<UioMapInfo> maps_;
    int fd_ = -1;
    std::vector<Mapping> mappings_;  // one per map while open
};

// uio_find_by_uio_name: the lowest-numbered device whose driver name is exactly `name`, or null.
std::unique_ptr<UioDevice> findLinuxUio(const std::string& name);

}  // namespace platform
