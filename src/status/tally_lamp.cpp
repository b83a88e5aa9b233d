#include "status/tally_lamp.h"

#include "hw/hardware.h"

void TallyLamp::setTallyLamp(bool on) { hw->write32(kBlock, kRegister, on ? kOn : kOff); }

void TallyLamp::blinkLamp(int mode, int phase) {
    uint32_t code = kDark;
    if (phase != 0) code = mode < 0 ? kAlternate : (mode > 0 ? kOn : kOff);
    hw->write32(kBlock, kRegister, code);
}
