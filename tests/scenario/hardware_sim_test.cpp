// The hardware layer brought up against the simulated FPGA, memory and device tree. The reserved
// region's errors are checked on the fake sysfs tree (linux_uio_test).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "hw/hardware.h"
#include "sim/app/virtual_camera.h"
#include "support/log_capture.h"
#include "support/quiet_settings.h"

using namespace std::chrono_literals;

// The known platform's lines are checked by the entry's end-to-end tests. Only platform 1 sees memory
// with bit 31 set, and only when the entry asks for bus addresses to be translated.
TEST(HardwareOnSimulator, AnUnknownPlatformHasNoVersionAndOnlyTheEarlyDesignTranslatesAddresses) {
    for (const int id : {77, 1}) {
        auto settings = quietSettings();
        settings.fpga.platformId = id;
        sim::VirtualCamera camera(settings);
        hardware hw(camera.platform());
        const auto i = hw.platform_info();
        if (id == 77) {
            EXPECT_EQ(std::make_tuple(i.platform_name, int(i.platform_id), int(i.version_major), int(i.version_minor)),
                      std::make_tuple(std::string("Unknown platform"), 77, 0, 0));
        }
        const uint32_t plain = hw.bus_address(0x100);
        hw.translate_addresses = true;
        EXPECT_EQ(hw.bus_address(0x100), id == 1 ? (plain | 0x80000000u) : plain) << id;
    }
}

TEST(HardwareOnSimulator, TheLastLineInterruptsAndLinesOutOfRangeNever) {
    sim::VirtualCamera camera(quietSettings());
    hardware hw(camera.platform());
    hw.enable_irq(hardware::aud_out);
    for (int line : {int(hardware::aud_out), -1, 8}) EXPECT_LT(hw.wait_irq(line, 5ms), 0) << line;
    std::thread fire([&] {
        std::this_thread::sleep_for(10ms);
        camera.fpga().line(hardware::aud_out).raise();
    });
    EXPECT_GE(hw.wait_irq(hardware::aud_out, 2000ms), 0);
    fire.join();
}

// A missing device ends the search of its set: the set's other interrupts are never there; the camera
// stays ready without them.
TEST(HardwareOnSimulator, AMissingDeviceIsLoggedWithItsSetAndTheCameraStaysReady) {
    const struct { const char *absent, *set; int other; } cases[] = {
        {"ndi_enc", "input", hardware::vid_in}, {"ndi_dec", "output", hardware::aud_out}};
    for (const auto& c : cases) {
        auto settings = quietSettings();
        settings.absentUio = {c.absent};
        sim::VirtualCamera camera(settings);
        LogCapture log(2);
        hardware hw(camera.platform());
        EXPECT_TRUE(hw.is_ready());
        EXPECT_EQ(log.text(), std::string("Did not find uio device ") + c.absent + "!\n...not looking for other " + c.set +
                                  " devices.\n");
        hw.enable_irq(c.other);
        camera.fpga().line(c.other).raise();
        EXPECT_LT(hw.wait_irq(c.other, 200ms), 0) << c.absent << ": the set's other devices are not opened";
    }
}

// Four cells and no video node: the raw window falls back to the first 512 MiB.
TEST(HardwareOnSimulator, WithoutAVideoRegionTheRawWindowFallsBackAndSaysSo) {
    auto settings = quietSettings();
    settings.dtCells = 4;
    settings.videoRegion = false;
    sim::VirtualCamera camera(settings);
    LogCapture log(4);
    hardware hw(camera.platform());
    EXPECT_FALSE(hw.video_region().is_mapped());
    EXPECT_EQ(hw.reserved_region().size, sim::MemoryLayout::kReservedSize);
    const std::string text = log.text();
    size_t at = 0;
    for (const char* line : {"Could not open ", "rsvd raw    : not present\n", "RAW memory  : 0x00000000:0x20000000\n"})
        if ((at = text.find(line, at)) == std::string::npos) ADD_FAILURE() << line << "\nin:\n" << text;
}
