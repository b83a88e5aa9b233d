// Quantisation tables and register words of the SpeedHQ encoder cores.
#pragma once

#include <array>
#include <cstdint>

namespace speedhq {

using quant_table = std::array<uint16_t, 64>;

// The decoder rejects 100 and the table would divide by zero there.
constexpr int max_quality = 99;
int clamp_quality(int q);

// Q15 reciprocals of the decoder's steps for quality q (clamped to 0..99); entry 0 (DC) is 1.0.
quant_table table_for(int q);

// One word for the table write port: slot 0..7, coefficient index 0..63.
uint32_t table_word(int slot, int index, uint16_t value);

// The job control word of a core.
uint32_t control_word(int slot, int first_slice, int last_slice, bool is_420, bool pad_width);

// The MPEG default intra matrix in raster order.
extern const std::array<uint8_t, 64> intra_matrix;

}  // namespace speedhq
