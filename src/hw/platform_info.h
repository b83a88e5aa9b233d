// What the FPGA says about itself: identification and build date.
#pragma once

#include <cstdint>
#include <string>

struct platform_info_t {
    uint32_t id_word = 0;
    uint32_t date_word = 0;
    std::string platform_name;
    uint8_t platform_id = 0;
    uint8_t version_major = 0;
    uint8_t version_minor = 0;
    uint8_t version_patch = 0;
};

// "Unknown platform" for ids the table does not know.
const char* platform_name_for(uint8_t platform_id);
bool platform_known(uint8_t platform_id);
