// Reads a device-tree `reg` property: an address and a size in big-endian cells.
#pragma once

#include <string>

#include "hw/memory_region.h"

// Fills region.physical and region.size; returns the number of cells read
// (2, or 4 for 64-bit cells whose low halves are taken), or -1.
// An open failure is logged only when debug_level >= openFailureLevel.
int read_dt_reg(const std::string& path, memory_region& region, int openFailureLevel);
