// The encoder cores driven at register level: presence, table slots, slices as a bus-word core
// writes them, the shared interrupt, overflow, stall and model errors for bad programming.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/ndi_types.h"
#include "sim/media/speedhq_decoder.h"
#include "support/picture_match.h"
#include "support/quiet_settings.h"
#include "sim/media/test_picture.h"
#include "sim/app/virtual_camera.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
constexpr int kWidth = 640, kHeight = 360;
constexpr uint32_t kStride = kWidth * 2 + 256;  // wider than a line: the programmed stride must be used
constexpr uint32_t kSource = sim::MemoryLayout::kVideoPhysical + 0x400000;
constexpr uint32_t kOutput = sim::MemoryLayout::kReservedPhysical + 0x100000;
constexpr uint32_t kSliceWindow = (kWidth + 16) * (kHeight + 16) / 2;
constexpr uint64_t kPictureNumber = 1234;

// MPEG default intra matrix, raster order.
constexpr uint8_t kIntra[64] = {8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37,
                                19, 22, 26, 27, 29, 34, 34, 38, 22, 22, 26, 27, 29, 34, 37, 40,
                                22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32, 35, 40, 48, 58,
                                26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

std::array<uint16_t, 64> tableFor(int q) {
    std::array<uint16_t, 64> t{};
    t[0] = 32768;
    for (size_t i = 1; i < 64; ++i) {
        const uint32_t d = uint32_t(100 - q) * kIntra[i];
        t[i] = uint16_t(std::min<uint32_t>(32768, (0x80000 + d / 2) / d));
    }
    return t;
}

uint32_t le24(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16; }

class Cores {
public:
    explicit Cores(int count) : camera(settings(count)) {
        source = static_cast<uint8_t*>(camera.root().memory().map(kSource, kStride * kHeight));
        output = static_cast<uint8_t*>(camera.root().memory().map(kOutput, 4 * kSliceWindow));
        std::memset(output, 0xee, 4 * kSliceWindow);  // padding must be written, not found
        const sim::TestPicture picture(kWidth, kHeight);
        for (int line = 0; line < kHeight; ++line) picture.renderLine(source + size_t(line) * kStride, line, kPictureNumber);
        camera.fpga().write8(0 * 4 + 2, 0xc0);  // core 0, register 0, byte 2: interrupt enable
        seen = camera.fpga().line(0).eventCount();
    }
    ~Cores() {
        camera.root().memory().unmap(output, 4 * kSliceWindow);
        camera.root().memory().unmap(source, kStride * kHeight);
    }
    static sim::SimSettings settings(int count) {
        sim::SimSettings s = quietSettings("none");
        s.encoderCores = count;
        return s;
    }
    static uint32_t at(int core, uint32_t r) { return 4 * (64 * uint32_t(core) + r); }
    void write(int core, uint32_t r, uint32_t value) { camera.fpga().write32(at(core, r), value); }
    uint32_t read(int core, uint32_t r) { return camera.fpga().read32(at(core, r)); }

    void loadTable(int core, int slot, const std::array<uint16_t, 64>& table, int entries = 64) {
        for (int i = 0; i < entries; ++i)
            write(core, 2, 0x80000000u | uint32_t(slot) << 26 | uint32_t(i) << 20 | table[size_t(i)]);
    }
    // Core c of `count` takes slices c k .. c k + k - 1 into its own window of k slices.
    uint32_t areaOf(int core, int count) const { return kOutput + uint32_t(core) * kSliceWindow * uint32_t(4 / count); }
    void program(int core, int count, uint32_t slot) {
        const uint32_t k = uint32_t(4 / count), first = uint32_t(core) * k;
        write(core, 3, slot | first << 8 | (first + k - 1) << 12);
        write(core, 4, kSource);
        write(core, 5, areaOf(core, count));
        write(core, 6, kWidth);
        write(core, 7, kHeight);
        write(core, 8, kStride);
    }
    void start(int core) { camera.fpga().write8(at(core, 0), 1); }
    uint8_t events(int core) { return camera.fpga().read8(at(core, 0) + 3); }
    // Interrupt 0 within the limit; re-armed afterwards as a driver would.
    bool interrupt(std::chrono::milliseconds limit = 3000ms) {
        auto& line = camera.fpga().line(0);
        const bool raised = line.wait(seen, limit) >= 0;
        line.unmask();
        return raised;
    }
    uint32_t produced(int core, int slice) { return read(core, 11 + uint32_t(slice)); }
    const uint8_t* host(uint32_t physical) const { return output + (physical - kOutput); }
    sim::EncoderCores& model() { return camera.encoder(); }

    // Runs one picture with q's table in `slot` on every core; true when the interrupt came.
    bool encode(int count, int q, int slot) {
        for (int c = 0; c < count; ++c) loadTable(c, slot, tableFor(q));
        for (int c = 0; c < count; ++c) program(c, count, uint32_t(slot));
        for (int c = 0; c < count; ++c) start(c);
        return interrupt();
    }

    // Checks each slice's prefix and padding and joins them into a payload with quality byte q.
    std::vector<uint8_t> payload(int count, uint8_t q) {
        std::vector<uint8_t> out{q, 4, 0, 0};
        const int k = 4 / count;
        for (int c = 0; c < count; ++c) {
            const uint8_t* p = host(areaOf(c, count));
            for (int i = c * k; i < c * k + k; ++i) {
                SCOPED_TRACE(testing::Message() << "slice " << i);
                const uint32_t size = produced(c, i);
                const uint32_t length = le24(p);
                EXPECT_EQ(size % 8, 0u);
                EXPECT_EQ(size, (length + 7) / 8 * 8);  // padded to the next bus word, no further
                EXPECT_GE(length, 4u);
                for (uint32_t b = length; b < size; ++b) EXPECT_EQ(p[b], 0) << b;
                out.insert(out.end(), p, p + std::min(length, size));
                p += size;
            }
        }
        out.insert(out.end(), 4, 0);
        return out;
    }

    sim::VirtualCamera camera;
    uint8_t* source = nullptr;
    uint8_t* output = nullptr;
    uint32_t seen = 0;
};

double psnrOf(const std::vector<uint8_t>& payload) {
    const auto picture = sim::decodeSpeedHq(payload, ndi::fourcc_SHQ2, kWidth, kHeight);
    return picture ? lumaPsnr(*picture, kWidth, kPictureNumber) : 0.0;
}
}  // namespace

TEST(EncoderCoresModel, PresenceFollowsTheCoreCount) {
    for (int count : {1, 2, 4}) {
        SCOPED_TRACE(count);
        Cores cores(count);
        EXPECT_EQ(cores.model().cores(), count);
        for (int c = 0; c < 4; ++c) EXPECT_EQ(cores.read(c, 15) != 0, c < count) << "core " << c;
    }
    for (auto [value, cores] : {std::pair{"1", 1}, {"2", 2}, {"4", 4}}) {
        ::setenv("PTZSIM_CORES", value, 1);
        EXPECT_EQ(sim::SimSettings::fromEnvironment().encoderCores, cores);
    }
    ::setenv("PTZSIM_CORES", "3", 1);
    EXPECT_THROW(sim::SimSettings::fromEnvironment(), std::runtime_error);
    ::unsetenv("PTZSIM_CORES");
    EXPECT_EQ(sim::SimSettings::fromEnvironment().encoderCores, 4);
}

class EncoderCoresSlices : public testing::TestWithParam<int> {};

TEST_P(EncoderCoresSlices, PrefixedPaddedSlicesDecodeToTheSourcePicture) {
    const int count = GetParam();
    Cores cores(count);
    ASSERT_TRUE(cores.encode(count, 70, 2));
    const auto payload = cores.payload(count, 70);
    const double psnr = psnrOf(payload);
    EXPECT_GT(psnr, 38.0);
    auto wrongQuality = payload;
    wrongQuality[0] = 50;  // the slices were quantised for 70
    EXPECT_LT(psnrOf(wrongQuality), psnr - 6);
    const auto counters = cores.model().counters();
    EXPECT_EQ(counters.frames, 1u);
    EXPECT_EQ(counters.jobs, uint64_t(count));
    EXPECT_EQ(counters.tableLoads, 1u);
    EXPECT_EQ(counters.lastQuality, 70);
    EXPECT_EQ(counters.modelErrors, 0u) << cores.model().lastError();
    for (int c = 0; c < count; ++c) EXPECT_EQ(cores.events(c) & 0x80, 0x80) << c;
}

INSTANTIATE_TEST_SUITE_P(CoreCounts, EncoderCoresSlices, testing::Values(1, 2, 4));

TEST(EncoderCoresModel, JobCodesWithTheTableOfItsSlot) {
    Cores cores(1);
    cores.loadTable(0, 0, tableFor(60));
    ASSERT_TRUE(cores.encode(1, 80, 5));
    EXPECT_EQ(cores.model().counters().lastQuality, 80);
    EXPECT_EQ(cores.model().counters().tableLoads, 2u);
    const auto payload = cores.payload(1, 80);
    auto asSlotZero = payload;
    asSlotZero[0] = 60;
    EXPECT_GT(psnrOf(payload), psnrOf(asSlotZero) + 6);
}

TEST(EncoderCoresModel, InterruptOnlyWhenEveryProgrammedCoreIsDone) {
    Cores cores(2);
    for (int c = 0; c < 2; ++c) cores.loadTable(c, 0, tableFor(70));
    for (int c = 0; c < 2; ++c) cores.program(c, 2, 0);
    cores.start(0);
    ASSERT_TRUE(waitFor([&] { return cores.model().counters().jobs == 1; }));
    EXPECT_EQ(cores.events(0) & 0x80, 0x80);  // core 0 done
    EXPECT_FALSE(cores.interrupt(100ms));  // core 1 programmed, not yet started
    cores.start(1);
    ASSERT_TRUE(cores.interrupt());
    cores.camera.fpga().write8(Cores::at(0, 0) + 3, 0xc0);  // acknowledge
    EXPECT_EQ(cores.events(0) & 0x80, 0);
    EXPECT_EQ(cores.events(1) & 0x80, 0x80);

    // A core that never finishes holds the interrupt back until it is reset.
    cores.model().inject(sim::EncoderCores::Fault::stall, 1);
    for (int c = 0; c < 2; ++c) cores.program(c, 2, 0);
    for (int c = 0; c < 2; ++c) cores.start(c);
    ASSERT_TRUE(waitFor([&] { return cores.model().counters().jobs == 3; }));
    EXPECT_FALSE(cores.interrupt(150ms));
    EXPECT_EQ(cores.read(1, 0) & 1, 1u);  // still busy
    cores.write(1, 0, 0);
    EXPECT_EQ(cores.read(1, 0) & 1, 0u);
    cores.program(1, 2, 0);
    cores.start(1);
    ASSERT_TRUE(cores.interrupt());
    EXPECT_EQ(cores.model().counters().frames, 2u);
}

TEST(EncoderCoresModel, OverflowReportsMoreThanTheWindowAndWritesNothingAfter) {
    struct Case {
        int count, core;
    };
    for (auto [count, faulty] : {Case{1, 0}, Case{4, 2}}) {
        SCOPED_TRACE(count);
        Cores cores(count);
        cores.model().inject(sim::EncoderCores::Fault::overflow, faulty);
        ASSERT_TRUE(cores.encode(count, 70, 0));  // the interrupt still comes
        const int k = 4 / count;
        for (int c = 0; c < count; ++c)
            for (int i = c * k; i < c * k + k; ++i) {
                const uint32_t size = cores.produced(c, i);
                if (c != faulty)
                    EXPECT_TRUE(size > 0 && size <= kSliceWindow) << i;
                else if (i == c * k)
                    EXPECT_GT(size, kSliceWindow * uint32_t(k)) << i;
                else
                    EXPECT_EQ(size, 0u) << i;
            }
        EXPECT_EQ(cores.model().counters().overflows, 1u);
        ASSERT_TRUE(cores.encode(count, 70, 0));  // the fault was for one job: the next picture fits again
        EXPECT_GT(psnrOf(cores.payload(count, 70)), 38.0);
        EXPECT_EQ(cores.model().counters().overflows, 1u);
    }
}

TEST(EncoderCoresModel, ProgrammingTheCoresCannotCodeIsAModelError) {
    const struct {
        const char* what;
        int entries;
        bool offTable;
        uint32_t slot;
    } cases[] = {{"a table of no quality", 64, true, 1}, {"a table loaded in part", 63, false, 1}, {"no such slot", 64, false, 9}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        Cores cores(1);
        auto table = tableFor(70);
        if (test.offTable) table[10] += 3;
        cores.loadTable(0, 1, table, test.entries);
        cores.program(0, 1, test.slot);
        cores.start(0);
        ASSERT_TRUE(cores.interrupt());  // the job ends, with nothing produced
        for (int i = 0; i < 4; ++i) EXPECT_EQ(cores.produced(0, i), 0u);
        EXPECT_EQ(cores.model().counters().modelErrors, 1u);
        EXPECT_FALSE(cores.model().lastError().empty());
    }
}
