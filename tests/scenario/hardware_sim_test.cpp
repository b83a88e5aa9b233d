// The hardware layer brought up against the simulated FPGA, memory and device tree.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "hw/device_cyclone.h"
#include "hw/hardware.h"
#include "support/log_capture.h"
#include "sim/app/virtual_camera.h"
#include "support/quiet_settings.h"

using namespace std::chrono_literals;

namespace {
std::string constructionError(const sim::SimSettings& settings) {
    sim::VirtualCamera camera(settings);
    try {
        hardware hw(camera.platform());
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

// The default virtual camera with the hardware layer brought up on it.
struct DefaultHardware : testing::Test {
    sim::VirtualCamera camera{quietSettings()};
    hardware hw{camera.platform()};
};
}  // namespace

TEST_F(DefaultHardware, ComesUpReadyAndIdentifiesThePlatform) {
    EXPECT_TRUE(hw.is_ready());
    const auto info = hw.platform_info();
    EXPECT_EQ(info.platform_name, "Mendal NDI Product");
    EXPECT_EQ(info.platform_id, 128);
    EXPECT_EQ(info.version_major, 3);
    EXPECT_EQ(info.version_minor, 1);
    EXPECT_EQ(info.date_word, 0x20261206u);
    EXPECT_EQ(hw.register_mask(), sim::FpgaModel::kWindowBytes - 1);
    EXPECT_EQ(hw.reserved_region().physical, sim::MemoryLayout::kReservedPhysical);
    EXPECT_EQ(hw.layout().get_raw(), (address_range{sim::MemoryLayout::kVideoPhysical, sim::MemoryLayout::kVideoSize}));
    EXPECT_EQ(hw.layout().get_area(0), (address_range{0, 0x7ff0000}));
    EXPECT_EQ(hw.layout().get_area(3), (address_range{0x7ff0000, 0x10000}));
}

TEST_F(DefaultHardware, PoisonsTheSharedReservedMemory) {
    // Look through the model's own mapping: the words must have reached physical memory.
    auto* words = static_cast<uint32_t*>(
        camera.root().memory().map(sim::MemoryLayout::kReservedPhysical, sim::MemoryLayout::kReservedSize));
    size_t bad = 0;
    for (uint32_t i = 0; i < sim::MemoryLayout::kReservedSize / 4; ++i) bad += words[i] != 0xdeaddeadu;
    camera.root().memory().unmap(words, sim::MemoryLayout::kReservedSize);
    EXPECT_EQ(bad, 0u);
    EXPECT_EQ(*static_cast<uint32_t*>(hw.host_address(0x1000)), 0xdeaddeadu);
}

TEST_F(DefaultHardware, RegisterAddressesAreMaskedAfterScaling) {
    hw.write32(1990, 2, 0xcafe);
    EXPECT_EQ(camera.fpga().read32(1992 * 4), 0xcafeu);
    hw.write8(2000, 3, 1, 0x7e);  // a register no model owns
    EXPECT_EQ(camera.fpga().read8(2003 * 4 + 1), 0x7e);
    EXPECT_EQ(hw.read8(2000, 3, 1), 0x7e);
    hw.write32(0x4000, 1, 0x1234);  // (0x4001 * 4) & 0xffff wraps to byte 4
    EXPECT_EQ(camera.fpga().read32(4), 0x1234u);
    EXPECT_EQ(hw.read32(0x4000, 1), 0x1234u);
}

TEST_F(DefaultHardware, WaitsForInterruptsAndTimesOut) {
    hw.enable_irq(hardware::ndi_dec);
    EXPECT_LT(hw.wait_irq(hardware::ndi_dec, 20ms), 0);
    std::thread fire([&] {
        std::this_thread::sleep_for(10ms);
        camera.fpga().line(hardware::ndi_dec).raise();
    });
    EXPECT_GE(hw.wait_irq(hardware::ndi_dec, 2000ms), 0);
    fire.join();
    EXPECT_LT(hw.wait_irq(9, 1ms), 0);  // no such line: no interrupt, no crash
}

TEST(HardwareOnSimulator, BusAddressesFollowThePlatformOnceTranslationIsOnAndAnUnknownOneHasNoVersion) {
    for (uint8_t id : {uint8_t{1}, uint8_t{128}, uint8_t{77}}) {
        SCOPED_TRACE(int(id));
        auto settings = quietSettings();
        settings.fpga.platformId = id;
        sim::VirtualCamera camera(settings);
        hardware hw(camera.platform());
        const uint32_t physical = sim::MemoryLayout::kReservedPhysical + 0x100;
        EXPECT_EQ(hw.bus_address(0x100), physical);
        hw.translate_addresses = true;
        EXPECT_EQ(hw.bus_address(0x100), id == 1 ? (physical | 0x80000000u) : physical);
        EXPECT_EQ(dynamic_cast<const device_cyclone*>(&hw.layout()) != nullptr, id == 1);
        if (id != 77) continue;
        EXPECT_EQ(hw.platform_info().platform_name, "Unknown platform");
        EXPECT_EQ(hw.platform_info().version_major, 0);
        EXPECT_EQ(hw.platform_info().platform_id, 77);
    }
}

TEST(HardwareOnSimulator, MissingDevicesNameThemselves) {
    // Only the first message ends in a new line.
    for (const std::string absent : {"ndi_regs", "vid_in", "pvw_in", "aud_in", "vid_track", "vid_out", "aud_out"}) {
        auto settings = quietSettings();
        settings.absentUio = {absent};
        EXPECT_EQ(constructionError(settings),
                  "Cannot find uio device " + absent + "!" + (absent == "ndi_regs" ? "\n" : ""));
    }
}

TEST(HardwareOnSimulator, MissingOptionalSetsAreLoggedAndOnlyBothMakeItUnready) {
    auto settings = quietSettings();
    settings.absentUio = {"ndi_enc"};
    {
        sim::VirtualCamera camera(settings);
        LogCapture log(2);
        hardware hw(camera.platform());
        EXPECT_TRUE(hw.is_ready());
        EXPECT_EQ(log.text(), "Did not find uio device ndi_enc!\n...not looking for other input devices.\n");
        EXPECT_LT(hw.wait_irq(hardware::vid_in, 1ms), 0);
    }
    settings.absentUio = {"ndi_enc", "ndi_dec", "vid_in", "vid_out"};
    sim::VirtualCamera camera(settings);
    hardware hw(camera.platform());
    EXPECT_FALSE(hw.is_ready());
}

TEST(HardwareOnSimulator, FourCellDeviceTreeAndNoVideoRegion) {
    auto settings = quietSettings();
    settings.dtCells = 4;
    settings.videoRegion = false;
    sim::VirtualCamera camera(settings);
    LogCapture log(4);
    hardware hw(camera.platform());
    EXPECT_EQ(hw.reserved_region().physical, sim::MemoryLayout::kReservedPhysical);
    EXPECT_EQ(hw.reserved_region().size, sim::MemoryLayout::kReservedSize);
    EXPECT_FALSE(hw.video_region().is_mapped());
    EXPECT_EQ(hw.layout().get_raw(), (address_range{0, 0x20000000}));
    const std::string text = log.text();
    EXPECT_NE(text.find("rsvd raw    : not present\n"), std::string::npos);
    EXPECT_NE(text.find("RAW memory  : 0x00000000:0x20000000\n"), std::string::npos);
    EXPECT_NE(text.find("Could not open "), std::string::npos);  // the absent video node, at level 4
}

TEST(HardwareOnSimulator, LogsDiscoveryAndMapsInOrderAtLevelFour) {
    sim::VirtualCamera camera(quietSettings());
    LogCapture log(4);
    hardware hw(camera.platform());
    const std::string text = log.text();
    const char* expected[] = {"NDI Registers UIO Device: /dev/uio0\n", "NDI Encode UIO Device: /dev/uio1\n",
                              "Video In UIO Device: /dev/uio2\n",      "Tracking UIO Device: /dev/uio5\n",
                              "NDI Decode UIO Device: /dev/uio6\n",    "Audio Out UIO Device: /dev/uio8\n",
                              "ndi maps    : 1\n",                      "ndi map addr: 0x43c00000\n",
                              "ndi map size: 0x00010000\n",             "ndi map mask: 0x0000ffff\n",
                              "ndi map offs: 0x00000000\n",             "rsvd memory : 0x",
                              "rsvd raw    : 0x",                       "RAW memory  : 0x10000000:0x10000000\n"};
    size_t at = 0;
    for (const char* line : expected) {
        const size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << "\nin:\n" << text;
        at = found;
    }
}
