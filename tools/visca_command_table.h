// Named VISCA commands and inquiries of the command-line client, turned into payloads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ViscaRequest {
    std::vector<uint8_t> payload;  // address byte through 0xFF
    bool inquiry = false;
};

// words: the command name and its arguments; address 0x81 (network) or 0x82 (bridge).
// Empty with `error` set when the words name nothing or an argument is out of range.
std::optional<ViscaRequest> buildRequest(const std::vector<std::string>& words, uint8_t address, std::string& error);

// The command list for --help.
const char* commandHelp();
