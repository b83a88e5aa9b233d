// The early Altera design: the FPGA sees processor memory with bit 31 set.
#pragma once

#include "hw/device.h"

class device_cyclone : public device {
public:
    uint32_t to_bus(uint32_t address) const override { return address | 0x80000000u; }
};
