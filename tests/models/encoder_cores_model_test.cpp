// Encoder cores at register level: bus-word slices decode to the source with their slot's table.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/ndi_types.h"
#include "sim/media/speedhq_decoder.h"
#include "support/picture_match.h"
#include "support/quiet_settings.h"
#include "sim/media/test_picture.h"
#include "sim/app/virtual_camera.h"

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

class Cores {
public:
    explicit Cores(int count) : camera([count] { auto s = quietSettings("none"); return s.encoderCores = count, s; }()) {
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
    static uint32_t at(int core, uint32_t r) { return 4 * (64 * uint32_t(core) + r); }
    void write(int core, uint32_t r, uint32_t value) { camera.fpga().write32(at(core, r), value); }
    // Core c of `count` takes slices c k .. c k + k - 1 into its own window of k slices.
    uint32_t areaOf(int core, int count) const { return kOutput + uint32_t(core) * kSliceWindow * uint32_t(4 / count); }
    void program(int core, int count, uint32_t slot) {
        const uint32_t k = uint32_t(4 / count), first = uint32_t(core) * k;
        write(core, 3, slot | first << 8 | (first + k - 1) << 12);
        const uint32_t values[] = {kSource, areaOf(core, count), kWidth, kHeight, kStride};
        for (uint32_t r = 4; r <= 8; ++r) write(core, r, values[r - 4]);
    }
    // Runs one picture with q's table in `slot` on every core; true when the interrupt came.
    bool encode(int count, int q, int slot) {
        const auto table = tableFor(q);
        for (int c = 0; c < count; ++c)
            for (uint32_t i = 0; i < 64; ++i) write(c, 2, 0x80000000u | uint32_t(slot) << 26 | i << 20 | table[i]);
        for (int c = 0; c < count; ++c) program(c, count, uint32_t(slot));
        for (int c = 0; c < count; ++c) camera.fpga().write8(at(c, 0), 1);
        return camera.fpga().line(0).wait(seen, 3000ms) >= 0;
    }
    // Checks each slice's prefix and padding and joins them into a payload with quality byte q.
    std::vector<uint8_t> payload(int count, uint8_t q) {
        std::vector<uint8_t> out{q, 4, 0, 0};
        const int k = 4 / count;
        for (int c = 0; c < count; ++c) {
            const uint8_t* p = output + (areaOf(c, count) - kOutput);
            for (int i = c * k; i < c * k + k; ++i) {
                SCOPED_TRACE(testing::Message() << "slice " << i);
                const uint32_t size = camera.fpga().read32(at(c, 11 + uint32_t(i))), length = p[0] | p[1] << 8 | p[2] << 16;
                EXPECT_EQ(size, (length + 7) / 8 * 8);  // padded to the next bus word, no further
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

class EncoderCoresSlices : public testing::TestWithParam<int> {};

TEST_P(EncoderCoresSlices, PrefixedPaddedSlicesDecodeToTheSourcePicture) {
    const int count = GetParam();
    Cores cores(count);
    ASSERT_TRUE(cores.encode(count, 70, 2));
    const auto payload = cores.payload(count, 70);
    const double psnr = psnrOf(payload);  // the table of slot 2: slot 0 is empty
    EXPECT_GT(psnr, 38.0);
    auto wrongQuality = payload;
    wrongQuality[0] = 50;  // the slices were quantised for 70
    EXPECT_LT(psnrOf(wrongQuality), psnr - 6);
    EXPECT_EQ(cores.camera.encoder().counters().jobs, uint64_t(count));
    EXPECT_EQ(cores.camera.encoder().counters().modelErrors, 0u) << cores.camera.encoder().lastError();
}

INSTANTIATE_TEST_SUITE_P(CoreCounts, EncoderCoresSlices, testing::Values(1, 2, 4));
