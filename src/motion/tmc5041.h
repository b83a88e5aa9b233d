// TMC5041: register numbers to datagrams, shadow copies of write-only registers, verified writes.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "motion/spi.h"
#include "motion/tmc5041_registers.h"

class TMC5041 : public SPI {
public:
    using SPI::SPI;

    // Logs each exchange when traces are on, then sends it.
    bool transfer(const uint8_t* tx, uint8_t* rx, int length) override;

    bool readRegister(uint8_t reg, uint32_t& value);
    bool writeRegister(uint8_t reg, uint32_t value);
    // Writes every writable register, ascending; failures are ignored.
    void writeAllRegisters(const std::array<uint32_t, tmc5041::kRegisters>& values);

    // "[" names of the set status bits "]"; returns the text length.
    static int rampStatusString(char* buffer, size_t size, uint8_t status);

    uint8_t lastStatus() const { return last_status.load(); }

protected:
    std::atomic<uint8_t> last_status{0};
    // Written by several motion threads; each entry stands alone.
    std::array<std::atomic<uint32_t>, tmc5041::kRegisters> shadow{};

private:
    void trace(int level, const char* prefix, uint8_t reg, uint32_t value, const char* suffix);
};
