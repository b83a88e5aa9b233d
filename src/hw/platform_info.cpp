#include "hw/platform_info.h"

namespace {
struct named_platform {
    uint8_t id;
    const char* name;
};

constexpr named_platform kPlatforms[] = {
    {1, "Early Altera design"},   {2, "Early Xilinx design"},  {16, "Digilent Zybo-Z7-20"},
    {17, "Digilent Zybo-Z7-10"},  {18, "Xilinx ZCU104"},       {19, "Arrow/Terasic SoCKit"},
    {128, "Mendal NDI Product"},
};
}  // namespace

bool platform_known(uint8_t platform_id) {
    for (const auto& p : kPlatforms)
        if (p.id == platform_id) return true;
    return false;
}

const char* platform_name_for(uint8_t platform_id) {
    for (const auto& p : kPlatforms)
        if (p.id == platform_id) return p.name;
    return "Unknown platform";
}
