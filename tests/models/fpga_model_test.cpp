// The FPGA register window: identification, byte lanes, bounds and block side effects.
#include <gtest/gtest.h>

#include <vector>

#include <nlohmann/json.hpp>

#include "sim/fpga/fpga_model.h"

namespace {
struct Write {
    uint32_t reg, oldValue, newValue, lanes;
};

class RecordingBlock : public sim::RegisterBlock {
public:
    void onWrite(uint32_t reg, uint32_t oldValue, uint32_t newValue, uint32_t lanes) override {
        writes.push_back({reg, oldValue, newValue, lanes});
    }
    std::optional<uint32_t> onRead(uint32_t reg) override {
        if (reg == 3) return 0x5a5a0003u;
        return std::nullopt;
    }
    std::vector<Write> writes;
};
}  // namespace

TEST(FpgaModel, IdentifiesItselfAtTheTopOfTheFirstPage) {
    sim::FpgaModel fpga(sim::FpgaIdentity{.platformId = 19, .versionMajor = 1, .versionMinor = 2, .versionPatch = 3,
                                          .buildDate = 0x20250101});
    EXPECT_EQ(fpga.read32(0xffc), 0x13010203u);
    EXPECT_EQ(fpga.read32(0xff8), 0x20250101u);
}

TEST(FpgaModel, ByteLanesAreLittleEndianAndNothingIsWrittenOutsideTheWindow) {
    sim::FpgaModel fpga;
    fpga.write32(sim::FpgaModel::kWindowBytes, 1);
    fpga.write8(sim::FpgaModel::kWindowBytes + 7, 1);
    EXPECT_EQ(fpga.read32(sim::FpgaModel::kWindowBytes), 0u);
    EXPECT_EQ(fpga.registersWritten(), 0u);
    fpga.write32(0x840, 0x11223344);
    fpga.write8(0x841, 0xab);  // keeps the other bytes
    EXPECT_EQ(fpga.read32(0x840), 0x1122ab44u);
    EXPECT_EQ(fpga.read8(0x843), 0x11);
    EXPECT_EQ(fpga.registersWritten(), 2u);
}

TEST(FpgaModel, AttachedBlockSeesWritesAndAnswersLiveReads) {
    sim::FpgaModel fpga;
    auto block = std::make_shared<RecordingBlock>();
    fpga.attach(512, 16, block);
    fpga.write32(511 * 4, 7);  // just before the block
    fpga.write32((512 + 2) * 4, 0xc0000000);
    fpga.write8((512 + 2) * 4 + 3, 0x40);
    ASSERT_EQ(block->writes.size(), 2u);
    EXPECT_EQ(block->writes[0].reg, 2u);
    EXPECT_EQ(block->writes[1].oldValue, 0xc0000000u);
    EXPECT_EQ(block->writes[1].newValue, 0x40000000u);
    EXPECT_EQ(block->writes[1].lanes, 0xff000000u);
    EXPECT_EQ(fpga.read32((512 + 3) * 4), 0x5a5a0003u);
    EXPECT_EQ(fpga.read32((512 + 2) * 4), 0x40000000u);
}

TEST(FpgaModel, ReportsPlatformWritesAndEveryInterruptLine) {
    sim::FpgaModel fpga;
    fpga.write32(0, 1);
    fpga.line(5).raise();
    nlohmann::json state;
    fpga.report(state);
    EXPECT_EQ(state["fpga"]["platform_id"], 128);
    EXPECT_EQ(state["fpga"]["registers_written"], 1);
    EXPECT_EQ(state["fpga"]["interrupts"].size(), 8u);
    EXPECT_EQ(state["fpga"]["interrupts"]["ndi_dec"]["count"], 1);
    EXPECT_EQ(state["fpga"]["interrupts"]["ndi_enc"]["count"], 0);
}
