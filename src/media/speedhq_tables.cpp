// Table formula and word packing for the encoder cores.
#include "media/speedhq_tables.h"

#include <algorithm>

namespace speedhq {

const std::array<uint8_t, 64> intra_matrix = {
    8,  16, 19, 22, 26, 27, 29, 34,  //
    16, 16, 22, 24, 27, 29, 34, 37,  //
    19, 22, 26, 27, 29, 34, 34, 38,  //
    22, 22, 26, 27, 29, 34, 37, 40,  //
    22, 26, 27, 29, 32, 35, 40, 48,  //
    26, 27, 29, 32, 35, 40, 48, 58,  //
    26, 27, 29, 34, 38, 46, 56, 69,  //
    27, 29, 35, 38, 46, 56, 69, 83,
};

int clamp_quality(int q) { return std::clamp(q, 0, max_quality); }

quant_table table_for(int q) {
    const uint32_t scale = uint32_t(100 - clamp_quality(q));
    quant_table table{};
    table[0] = 32768;
    for (size_t i = 1; i < table.size(); ++i) {
        const uint32_t d = scale * intra_matrix[i];
        table[i] = uint16_t(std::min<uint32_t>(32768, (0x80000 + d / 2) / d));
    }
    return table;
}

uint32_t table_word(int slot, int index, uint16_t value) {
    return 0x80000000u | uint32_t(slot & 0x1f) << 26 | uint32_t(index & 0x3f) << 20 | value;
}

uint32_t control_word(int slot, int first_slice, int last_slice, bool is_420, bool pad_width) {
    return uint32_t(slot & 0xff) | uint32_t(first_slice & 0xf) << 8 | uint32_t(last_slice & 0xf) << 12 |
           uint32_t(is_420) << 16 | uint32_t(pad_width) << 17;
}

}  // namespace speedhq
