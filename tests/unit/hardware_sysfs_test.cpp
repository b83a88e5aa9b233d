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
using Tree = FakeCameraTree;
std::unique_ptr<hardware> bringUp() { return std::make_unique<hardware>(std::make_shared<platform::LinuxPlatform>()); }
}  // namespace

// The video region's reg has four cells here: the low halves are the address and size.
TEST(HardwareOnSysfs, IdentityMaskedRegistersPoisonedReservedRegionAndRawWindow) {
    Tree tree;
    tree.setRegisterWord(0xffc, 0x01020304);
    tree.setRegisterWord(0xff8, 0x20240229);
    tree.writeRegCells("VadIvo_Video", {1, Tree::kVideoPhysical, 2, Tree::kVideoSize});
    auto hw = bringUp();
    ASSERT_TRUE(hw->is_ready());
    const auto& info = hw->platform_info();
    EXPECT_EQ(std::make_tuple(hw->register_mask(), info.platform_name, info.version_minor, info.date_word),
              std::make_tuple(0xfffu, "Early Altera design", 3, 0x20240229u));
    hw->write32(512, 2, 0xa1b2c3d4);
    hw->write32(1024, 0, 0x55);  // (1024 * 4) & 0xfff wraps to 0
    hw->write8(528, 0, 1, 0x9c);
    EXPECT_EQ(std::make_tuple(tree.registerWord(0x808), tree.registerWord(0), tree.registerByte(0x841), hw->read32(512, 2)),
              std::make_tuple(0xa1b2c3d4u, 0x55u, uint8_t{0x9c}, 0xa1b2c3d4u));
    hw->translate_addresses = true;
    EXPECT_EQ(hw->bus_address(0x10), (Tree::kReservedPhysical + 0x10) | 0x80000000u);
    for (uint32_t at : {0u, Tree::kReservedSize - 4})
        EXPECT_EQ(tree.memoryWord(Tree::kReservedPhysical + at), 0xdeaddeadu) << at;
    EXPECT_EQ(tree.memoryWord(Tree::kReservedPhysical - 4), 0u);
    EXPECT_EQ(hw->layout().get_raw(), (address_range{Tree::kVideoPhysical, Tree::kVideoSize}));
}

TEST(HardwareOnSysfs, DeviceSetsDecideReadiness) {
    {
        Tree tree({"ndi_dec"});
        LogCapture log(2);
        EXPECT_TRUE(bringUp()->is_ready());
        EXPECT_EQ(log.text(), "Did not find uio device ndi_dec!\n...not looking for other output devices.\n");
    }
    Tree tree({"ndi_enc", "ndi_dec"});
    EXPECT_FALSE(bringUp()->is_ready());
}

// Three cells or no node cannot be read; an address that is not page aligned cannot be mapped.
TEST(HardwareOnSysfs, UnreadableOrUnmappableReservedRegionIsAnError) {
    const std::string unreadable = "Cannot read VadIvo_Reserved reg details from device-tree!";
    const std::pair<std::vector<uint32_t>, std::string> cases[] = {
        {{0, Tree::kReservedPhysical, 0}, unreadable},
        {{}, unreadable},
        {{Tree::kReservedPhysical + 1, Tree::kReservedSize}, "Cannot map VadIvo_Reserved memory region!"},
    };
    for (const auto& [cells, error] : cases) {
        Tree tree;
        if (cells.empty()) tree.removeNode("VadIvo_Reserved");
        else tree.writeRegCells("VadIvo_Reserved", cells);
        EXPECT_EQ(thrownMessage<std::runtime_error>(bringUp), error);
    }
}
