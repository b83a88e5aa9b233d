#include "hw/hardware.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "base/log.h"
#include "hw/device_cyclone.h"
#include "hw/read_dt_reg.h"
#include "platform/device_path.h"

namespace {
constexpr const char* kReservedReg = "/proc/device-tree/reserved-memory/VadIvo_Reserved/reg";
constexpr const char* kVideoReg = "/proc/device-tree/reserved-memory/VadIvo_Video/reg";
constexpr uint32_t kIdOffset = 0xffc;
constexpr uint32_t kDateOffset = 0xff8;
constexpr uint32_t kPoison = 0xdeaddead;

std::string missing(const char* name) { return std::string("Cannot find uio device ") + name + "!"; }
}  // namespace

hardware::hardware(std::shared_ptr<platform::Platform> platform_) : platform(std::move(platform_)) {
    try {
        ndi_regs = find_device("ndi_regs");
        if (!ndi_regs) throw std::runtime_error(missing("ndi_regs") + "\n");
        logAt(4, "NDI Registers UIO Device: %s\n", ndi_regs->devname().c_str());
        reg_mask = ndi_regs->memSize(0) - 1;
        find_input_set();
        find_output_set();
        map_memory();
        identify();
        dev = platform_id == 1 ? std::make_unique<device_cyclone>() : std::make_unique<device>();
        dev->set_reserved(reserved);
        dev->set_raw(video_mem);
        log_maps();
        poison_reserved();
    } catch (...) {
        release();
        throw;
    }
}

hardware::~hardware() { release(); }

void hardware::release() {
    if (video_mem.is_mapped()) munmap(video_mem.mapped, video_mem.size);
    video_mem.mapped = MAP_FAILED;
    if (reserved.is_mapped()) munmap(reserved.mapped, reserved.size);
    reserved.mapped = MAP_FAILED;
    if (mem_fd >= 0) ::close(mem_fd);
    mem_fd = -1;
    irq_devices.fill(nullptr);
    for (uio_handle* handle : {&aud_out_dev, &vid_out_dev, &ndi_dec_dev, &vid_track_dev, &aud_in_dev, &pvw_in_dev,
                               &vid_in_dev, &ndi_enc_dev, &ndi_regs}) {
        if (*handle) (*handle)->close();
        handle->reset();
    }
}

hardware::uio_handle hardware::find_device(const char* name) {
    uio_handle handle = platform->findUio(name);
    if (handle && handle->open() == 0) return handle;
    return nullptr;
}

hardware::uio_handle hardware::require_device(const char* name, const char* found_format) {
    uio_handle handle = find_device(name);
    if (!handle) throw std::runtime_error(missing(name));
    logAt(4, found_format, handle->devname().c_str());
    return handle;
}

void hardware::find_input_set() {
    ndi_enc_dev = find_device("ndi_enc");
    if (!ndi_enc_dev) {
        logAt(2, "Did not find uio device ndi_enc!\n");
        logAt(2, "...not looking for other input devices.\n");
        return;
    }
    logAt(4, "NDI Encode UIO Device: %s\n", ndi_enc_dev->devname().c_str());
    vid_in_dev = require_device("vid_in", "Video In UIO Device: %s\n");
    pvw_in_dev = require_device("pvw_in", "Preview UIO Device: %s\n");
    aud_in_dev = require_device("aud_in", "Audio UIO Device: %s\n");
    vid_track_dev = require_device("vid_track", "Tracking UIO Device: %s\n");
    irq_devices[ndi_enc] = ndi_enc_dev.get();
    irq_devices[vid_in] = vid_in_dev.get();
    irq_devices[pvw_in] = pvw_in_dev.get();
    irq_devices[aud_in] = aud_in_dev.get();
    irq_devices[vid_track] = vid_track_dev.get();
}

void hardware::find_output_set() {
    ndi_dec_dev = find_device("ndi_dec");
    if (!ndi_dec_dev) {
        logAt(2, "Did not find uio device ndi_dec!\n");
        logAt(2, "...not looking for other output devices.\n");
        return;
    }
    logAt(4, "NDI Decode UIO Device: %s\n", ndi_dec_dev->devname().c_str());
    vid_out_dev = require_device("vid_out", "Video Out UIO Device: %s\n");
    aud_out_dev = require_device("aud_out", "Audio Out UIO Device: %s\n");
    irq_devices[ndi_dec] = ndi_dec_dev.get();
    irq_devices[vid_out] = vid_out_dev.get();
    irq_devices[aud_out] = aud_out_dev.get();
}

void hardware::map_memory() {
    if (read_dt_reg(platform::devicePath(kReservedReg), reserved, 2) <= 0)
        throw std::runtime_error("Cannot read VadIvo_Reserved reg details from device-tree!");
    if (read_dt_reg(platform::devicePath(kVideoReg), video_mem, 4) <= 0) video_mem = memory_region{};
    mem_fd = ::open(platform::devicePath("/dev/mem").c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (mem_fd < 0) throw std::runtime_error("Cannot open /dev/mem!");
    map_region(reserved, "Cannot map VadIvo_Reserved memory region!");
    if (video_mem.physical != 0) map_region(video_mem, "Cannot map VadIvo_Video memory region!");
}

void hardware::map_region(memory_region& region, const char* error) {
    region.mapped = mmap(nullptr, region.size, PROT_READ | PROT_WRITE, MAP_SHARED, mem_fd, region.physical);
    if (region.mapped == MAP_FAILED) throw std::runtime_error(error);
}

void hardware::identify() {
    id_word = ndi_regs->read32(0, kIdOffset & reg_mask);
    date_word = ndi_regs->read32(0, kDateOffset & reg_mask);
    platform_id = static_cast<uint8_t>(id_word >> 24);
    platform_name = platform_name_for(platform_id);
    if (!platform_known(platform_id)) return;  // the version bytes of an unknown design mean nothing
    version_major = static_cast<uint8_t>(id_word >> 16);
    version_minor = static_cast<uint8_t>(id_word >> 8);
    version_patch = static_cast<uint8_t>(id_word);
}

void hardware::log_maps() const {
    logAt(4, "ndi maps    : %i\n", ndi_regs->maxmap());
    logAt(4, "ndi map addr: 0x%08x\n", ndi_regs->memAddr(0));
    logAt(4, "ndi map size: 0x%08x\n", ndi_regs->memSize(0));
    logAt(4, "ndi map mask: 0x%08x\n", reg_mask);
    logAt(4, "ndi map offs: 0x%08x\n", ndi_regs->offset(0));
    logAt(4, "rsvd memory : %p:0x%08zx\n", reserved.mapped, static_cast<size_t>(reserved.size));
    if (video_mem.is_mapped())
        logAt(4, "rsvd raw    : %p:0x%08zx\n", video_mem.mapped, static_cast<size_t>(video_mem.size));
    else
        logAt(4, "rsvd raw    : not present\n");
    const address_range raw = dev->get_raw();
    logAt(4, "RAW memory  : 0x%08x:0x%08x\n", raw.offset, raw.size);
}

void hardware::poison_reserved() {
    auto* words = static_cast<uint32_t*>(reserved.mapped);
    for (uint32_t i = 0; i < reserved.size / 4; ++i) words[i] = kPoison;
}

bool hardware::is_ready() const {
    return ndi_regs && (ndi_enc_dev || ndi_dec_dev) && reserved.is_mapped();
}

platform_info_t hardware::platform_info() const {
    return {id_word, date_word, platform_name, platform_id, version_major, version_minor, version_patch};
}

uint32_t hardware::byte_address(uint32_t block, uint32_t reg) const { return ((block + reg) * 4) & reg_mask; }

uint32_t hardware::read32(uint32_t block, uint32_t reg) { return ndi_regs->read32(0, byte_address(block, reg)); }

void hardware::write32(uint32_t block, uint32_t reg, uint32_t value) {
    ndi_regs->write32(0, byte_address(block, reg), value);
}

uint8_t hardware::read8(uint32_t block, uint32_t reg, uint32_t byte) {
    return ndi_regs->read8(0, byte_address(block, reg) + byte);
}

void hardware::write8(uint32_t block, uint32_t reg, uint32_t byte, uint8_t value) {
    ndi_regs->write8(0, byte_address(block, reg) + byte, value);
}

platform::UioDevice* hardware::irq_device(int n) const {
    if (n < 0 || n >= kIrqCount) return nullptr;
    return irq_devices[static_cast<size_t>(n)];
}

void hardware::enable_irq(int n) {
    if (auto* d = irq_device(n)) d->enableIrq();
}

void hardware::disable_irq(int n) {
    if (auto* d = irq_device(n)) d->disableIrq();
}

int hardware::wait_irq_forever(int n) {
    auto* d = irq_device(n);
    return d ? d->irqWaitTimeout(std::nullopt) : -1;
}

int hardware::wait_irq(int n, std::chrono::milliseconds timeout) {
    auto* d = irq_device(n);
    if (d) return d->irqWaitTimeout(timeout);
    std::this_thread::sleep_for(timeout);  // an absent device never interrupts: keep the caller's pacing
    return -1;
}

void* hardware::host_address(uint32_t offset) const { return static_cast<char*>(reserved.mapped) + offset; }

uint32_t hardware::bus_address(uint32_t offset) const {
    const uint32_t address = reserved.physical + offset;
    return translate_addresses ? dev->to_bus(address) : address;
}
