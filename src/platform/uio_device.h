// One userspace-I/O device: its memory maps, register access and interrupt.
// The operations mirror the libuio calls the hardware layer is written against.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

class UioDevice {
public:
    virtual ~UioDevice() = default;

    // uio_open: maps the device's memory; 0 on success, negative on failure.
    virtual int open() = 0;
    // uio_close: unmaps and closes; harmless when not open.
    virtual void close() = 0;

    virtual std::string name() const = 0;     // the driver-given name, e.g. "ndi_regs"
    virtual std::string devname() const = 0;  // the device node, e.g. "/dev/uio0"

    virtual int maxmap() const = 0;           // number of memory maps
    virtual uint32_t memSize(int map) const = 0;
    virtual uint32_t memAddr(int map) const = 0;
    virtual uint32_t offset(int map) const = 0;

    virtual uint32_t read32(int map, uint32_t byteOffset) = 0;
    virtual void write32(int map, uint32_t byteOffset, uint32_t value) = 0;
    virtual uint8_t read8(int map, uint32_t byteOffset) = 0;
    virtual void write8(int map, uint32_t byteOffset, uint8_t value) = 0;

    virtual int enableIrq() = 0;
    virtual int disableIrq() = 0;
    // Waits for the next interrupt. Returns the device's event count, or a
    // negative value on time-out or error. No timeout means wait forever.
    virtual int irqWaitTimeout(std::optional<std::chrono::milliseconds> timeout) = 0;
};

}  // namespace platform
