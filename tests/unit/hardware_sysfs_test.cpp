// The hardware layer on the camera's own platform, over a fake sysfs and device-tree tree.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "hw/hardware.h"
#include "platform/linux_platform.h"
#include "support/fake_camera_tree.h"
#include "support/log_capture.h"
#include "support/thrown_message.h"

namespace {
std::unique_ptr<hardware> bringUp() { return std::make_unique<hardware>(std::make_shared<platform::LinuxPlatform>()); }

std::string errorOf(FakeCameraTree&) { return thrownMessage<std::runtime_error>(bringUp); }
}  // namespace

TEST(HardwareOnSysfs, ReadsIdentityAndMasksRegisterAddresses) {
    FakeCameraTree tree;
    tree.setRegisterWord(0xffc, 0x01020304);
    tree.setRegisterWord(0xff8, 0x20240229);
    auto hw = bringUp();
    ASSERT_TRUE(hw->is_ready());
    EXPECT_EQ(hw->register_mask(), 0xfffu);
    const auto& info = hw->platform_info();
    EXPECT_EQ(std::make_tuple(info.platform_name, info.version_minor, info.date_word),
              std::make_tuple("Early Altera design", 3, 0x20240229u));

    hw->write32(512, 2, 0xa1b2c3d4);
    EXPECT_EQ(tree.registerWord(0x808), 0xa1b2c3d4u);
    hw->write32(1024, 0, 0x55);  // (1024 * 4) & 0xfff wraps to 0
    EXPECT_EQ(tree.registerWord(0), 0x55u);
    hw->write8(528, 0, 1, 0x9c);
    EXPECT_EQ(tree.registerByte(0x841), 0x9c);
    EXPECT_EQ(hw->read32(512, 2), 0xa1b2c3d4u);

    hw->translate_addresses = true;
    EXPECT_EQ(hw->bus_address(0x10), (FakeCameraTree::kReservedPhysical + 0x10) | 0x80000000u);
}

TEST(HardwareOnSysfs, PoisonsTheReservedRegionThroughDevMem) {
    FakeCameraTree tree;
    auto hw = bringUp();
    for (uint32_t at : {0u, 4u, FakeCameraTree::kReservedSize / 2, FakeCameraTree::kReservedSize - 4})
        EXPECT_EQ(tree.memoryWord(FakeCameraTree::kReservedPhysical + at), 0xdeaddeadu) << at;
    EXPECT_EQ(tree.memoryWord(FakeCameraTree::kReservedPhysical - 4), 0u);  // nothing before it
    EXPECT_EQ(hw->layout().get_raw(), (address_range{FakeCameraTree::kVideoPhysical, FakeCameraTree::kVideoSize}));
}

TEST(HardwareOnSysfs, DeviceSetsDecideReadiness) {
    {
        FakeCameraTree tree({"ndi_dec"});
        LogCapture log(2);
        EXPECT_TRUE(bringUp()->is_ready());
        EXPECT_EQ(log.text(), "Did not find uio device ndi_dec!\n...not looking for other output devices.\n");
    }
    FakeCameraTree tree({"ndi_enc", "ndi_dec"});
    EXPECT_FALSE(bringUp()->is_ready());
}

// A reserved region that cannot be read (three cells, no node) or mapped (mmap refuses an address
// that is not page aligned) is an error.
TEST(HardwareOnSysfs, UnreadableOrUnmappableReservedRegionIsAnError) {
    const struct {
        std::vector<uint32_t> cells;  // empty: no node
        const char* error;
    } cases[] = {
        {{0, FakeCameraTree::kReservedPhysical, 0}, "Cannot read VadIvo_Reserved reg details from device-tree!"},
        {{}, "Cannot read VadIvo_Reserved reg details from device-tree!"},
        {{FakeCameraTree::kReservedPhysical + 1, FakeCameraTree::kReservedSize},
         "Cannot map VadIvo_Reserved memory region!"},
    };
    for (const auto& c : cases) {
        FakeCameraTree tree;
        if (c.cells.empty()) tree.removeNode("VadIvo_Reserved");
        else tree.writeRegCells("VadIvo_Reserved", c.cells);
        EXPECT_EQ(errorOf(tree), c.error);
    }
}
