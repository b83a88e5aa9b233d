// Owner of the FPGA's UIO devices and of the memory it shares with the processor.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "hw/device.h"
#include "hw/memory_region.h"
#include "hw/platform_info.h"
#include "platform/platform.h"

class hardware {
public:
    // Interrupt numbers, the index of the interrupt operations.
    enum irq : int { ndi_enc = 0, vid_in, pvw_in, aud_in, vid_track, ndi_dec, vid_out, aud_out };
    static constexpr int kIrqCount = 8;

    explicit hardware(std::shared_ptr<platform::Platform> platform = platform::installed());
    ~hardware();
    hardware(const hardware&) = delete;
    hardware& operator=(const hardware&) = delete;

    bool is_ready() const;
    platform_info_t platform_info() const;

    uint32_t read32(uint32_t block, uint32_t reg);
    void write32(uint32_t block, uint32_t reg, uint32_t value);
    uint8_t read8(uint32_t block, uint32_t reg, uint32_t byte);
    void write8(uint32_t block, uint32_t reg, uint32_t byte, uint8_t value);

    void enable_irq(int n);
    void disable_irq(int n);
    int wait_irq_forever(int n);
    // The library's result: negative means no interrupt within the timeout.
    int wait_irq(int n, std::chrono::milliseconds timeout);

    void* host_address(uint32_t offset) const;
    uint32_t bus_address(uint32_t offset) const;

    const device& layout() const { return *dev; }
    const memory_region& reserved_region() const { return reserved; }
    const memory_region& video_region() const { return video_mem; }
    uint32_t register_mask() const { return reg_mask; }

    bool translate_addresses = false;

private:
    using uio_handle = std::unique_ptr<platform::UioDevice>;

    uio_handle find_device(const char* name);
    uio_handle require_device(const char* name, const char* found_format);
    void find_input_set();
    void find_output_set();
    void map_memory();
    void map_region(memory_region& region, const char* error);
    void identify();
    void log_maps() const;
    void poison_reserved();
    void release();
    uint32_t byte_address(uint32_t block, uint32_t reg) const;
    platform::UioDevice* irq_device(int n) const;

    std::shared_ptr<platform::Platform> platform;
    std::unique_ptr<device> dev;
    int mem_fd = -1;
    memory_region reserved;
    memory_region video_mem;
    uint32_t id_word = 0;
    uint32_t date_word = 0;
    std::string platform_name;
    uint8_t platform_id = 0;
    uint8_t version_major = 0;
    uint8_t version_minor = 0;
    uint8_t version_patch = 0;
    uint32_t reg_mask = 0xfff;
    uio_handle ndi_regs, ndi_enc_dev, vid_in_dev, pvw_in_dev, aud_in_dev, vid_track_dev, ndi_dec_dev,
        vid_out_dev, aud_out_dev;
    std::array<platform::UioDevice*, kIrqCount> irq_devices{};
};
