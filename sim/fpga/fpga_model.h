// The FPGA as the processor sees it: the ndi_regs register window with the
// identification words, blocks with side effects, and the eight interrupt lines.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "sim/fpga/interrupt_line.h"
#include "sim/fpga/register_block.h"

namespace sim {

struct FpgaIdentity {
    uint8_t platformId = 128;
    uint8_t versionMajor = 3;
    uint8_t versionMinor = 1;
    uint8_t versionPatch = 0;
    uint32_t buildDate = 0x20261206;
};

class FpgaModel {
public:
    static constexpr uint32_t kWindowBytes = 0x10000;  // map 0 of ndi_regs
    static constexpr uint32_t kWindowPhysical = 0x43c00000;
    static constexpr int kLines = 8;
    static constexpr const char* kLineNames[kLines] = {"ndi_enc",   "vid_in",  "pvw_in",  "aud_in",
                                                       "vid_track", "ndi_dec", "vid_out", "aud_out"};

    explicit FpgaModel(const FpgaIdentity& identity = {});

    // Processor side: byte offsets into the window; out-of-range access reads 0 and writes nothing.
    uint32_t read32(uint32_t byteOffset);
    void write32(uint32_t byteOffset, uint32_t value);
    uint8_t read8(uint32_t byteOffset);
    void write8(uint32_t byteOffset, uint8_t value);

    // Model side: a word index (block + register) and its current value, without side effects.
    uint32_t peek(uint32_t word) const;
    void poke(uint32_t word, uint32_t value);

    // Blocks are attached while the simulator is assembled, before the application runs.
    void attach(uint32_t firstWord, uint32_t count, std::shared_ptr<RegisterBlock> block);

    InterruptLine& line(int n) { return lines[static_cast<size_t>(n)]; }
    uint64_t registersWritten() const { return writes.load(); }
    const FpgaIdentity& identity() const { return id; }

    void report(nlohmann::json& state) const;
    void shutdown();

private:
    struct Attachment {
        uint32_t first;
        uint32_t count;
        std::shared_ptr<RegisterBlock> block;
    };

    static constexpr uint32_t kWords = kWindowBytes / 4;

    void write(uint32_t byteOffset, uint32_t value, uint32_t laneMask);
    const Attachment* attachmentFor(uint32_t word) const;

    FpgaIdentity id;
    std::array<std::atomic<uint32_t>, kWords> registers{};
    std::vector<Attachment> attachments;
    std::mutex writeMutex;  // keeps read-modify-write of byte lanes whole
    std::atomic<uint64_t> writes{0};
    std::array<InterruptLine, kLines> lines;
};

}  // namespace sim
