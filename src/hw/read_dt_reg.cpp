#include "hw/read_dt_reg.h"

#include <arpa/inet.h>

#include <cstdio>

#include "base/log.h"

int read_dt_reg(const std::string& path, memory_region& region, int openFailureLevel) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        logAt(openFailureLevel, "Could not open %s for reading!\n", path.c_str());
        return -1;
    }
    uint32_t cells[4] = {};
    const size_t count = std::fread(cells, sizeof(uint32_t), 4, file);
    if (count == 2) {
        region.physical = ntohl(cells[0]);
        region.size = ntohl(cells[1]);
    } else if (count == 4) {
        region.physical = ntohl(cells[1]);
        region.size = ntohl(cells[3]);
    } else {
        std::fclose(file);
        logAt(2, "Could not read %s\n", path.c_str());
        return -1;
    }
    if (std::fclose(file) != 0) {
        logAt(2, "Error closing file %s!\n", path.c_str());
        return -1;
    }
    logAt(4, "%s: %p:0x%08zx\n", path.c_str(), reinterpret_cast<void*>(static_cast<uintptr_t>(region.physical)),
          static_cast<size_t>(region.size));
    return static_cast<int>(count);
}
