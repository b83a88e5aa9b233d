// Byte sequences written as hex text ("81 01 06 04 FF"), so protocol tests read like the wire.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline std::vector<uint8_t> hexBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (size_t at = 0; at + 1 < text.size(); at += text[at] == ' ' ? 1 : 2)
        if (text[at] != ' ') bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(at, 2), nullptr, 16)));
    return bytes;
}
