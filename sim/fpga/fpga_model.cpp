#include "sim/fpga/fpga_model.h"

#include <nlohmann/json.hpp>

namespace sim {

namespace {
constexpr uint32_t kIdWord = 0xffc / 4;
constexpr uint32_t kDateWord = 0xff8 / 4;
}  // namespace

FpgaModel::FpgaModel(const FpgaIdentity& identity) : id(identity) {
    registers[kIdWord] = static_cast<uint32_t>(id.platformId) << 24 | static_cast<uint32_t>(id.versionMajor) << 16 |
                         static_cast<uint32_t>(id.versionMinor) << 8 | id.versionPatch;
    registers[kDateWord] = id.buildDate;
}

void FpgaModel::attach(uint32_t firstWord, uint32_t count, std::shared_ptr<RegisterBlock> block) {
    attachments.push_back({firstWord, count, std::move(block)});
}

const FpgaModel::Attachment* FpgaModel::attachmentFor(uint32_t word) const {
    for (const auto& a : attachments)
        if (word >= a.first && word < a.first + a.count) return &a;
    return nullptr;
}

uint32_t FpgaModel::read32(uint32_t byteOffset) {
    if (byteOffset >= kWindowBytes) return 0;
    const uint32_t word = byteOffset / 4;
    if (const auto* a = attachmentFor(word))
        if (auto live = a->block->onRead(word - a->first)) return *live;
    return registers[word].load();
}

uint8_t FpgaModel::read8(uint32_t byteOffset) {
    return static_cast<uint8_t>(read32(byteOffset & ~3u) >> (8 * (byteOffset & 3)));
}

void FpgaModel::write32(uint32_t byteOffset, uint32_t value) { write(byteOffset & ~3u, value, 0xffffffffu); }

void FpgaModel::write8(uint32_t byteOffset, uint8_t value) {
    const uint32_t shift = 8 * (byteOffset & 3);
    write(byteOffset & ~3u, static_cast<uint32_t>(value) << shift, 0xffu << shift);
}

void FpgaModel::write(uint32_t byteOffset, uint32_t value, uint32_t laneMask) {
    if (byteOffset >= kWindowBytes) return;
    const uint32_t word = byteOffset / 4;
    uint32_t oldValue, newValue;
    {
        std::lock_guard lock(writeMutex);
        oldValue = registers[word].load();
        newValue = (oldValue & ~laneMask) | (value & laneMask);
        registers[word] = newValue;
    }
    ++writes;
    if (const auto* a = attachmentFor(word)) a->block->onWrite(word - a->first, oldValue, newValue, laneMask);
}

uint32_t FpgaModel::peek(uint32_t word) const { return word < kWords ? registers[word].load() : 0; }

void FpgaModel::poke(uint32_t word, uint32_t value) {
    if (word < kWords) registers[word] = value;
}

void FpgaModel::report(nlohmann::json& state) const {
    auto& fpga = state["fpga"];
    fpga["platform_id"] = id.platformId;
    fpga["registers_written"] = writes.load();
    auto& interrupts = fpga["interrupts"];
    for (int n = 0; n < kLines; ++n)
        interrupts[kLineNames[n]] = {{"line", n}, {"count", lines[static_cast<size_t>(n)].eventCount()}};
}

void FpgaModel::shutdown() {
    for (auto& l : lines) l.close();
}

}  // namespace sim
