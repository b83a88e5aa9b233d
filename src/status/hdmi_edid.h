// The EDID the camera presents on its HDMI input.
#pragma once

#include <array>
#include <cstdint>

using edid_bytes = std::array<uint8_t, 256>;

// EDID 1.3 base block and one CEA-861 extension: 1080p24/25/30/50/60 (1080p60 native),
// 1080i50/60, 720p24/25/30/50/60, 480i, 576i, basic audio and an HDMI vendor block.
const edid_bytes& hdmi_edid();

// The FPGA takes the EDID as 64 words of four consecutive bytes, little-endian.
uint32_t edid_word(const edid_bytes& edid, int index);
