#include "motion/tmc5041.h"

#include <cstdio>
#include <string>

#include "base/log.h"

namespace {
using namespace tmc5041::spi_status;

// The log's labels for the status byte, in bit order. The log format fixes them; several do not
// name what the chip's bit means.
struct StatusLabel {
    uint8_t bit;
    const char* label;
};
constexpr StatusLabel kStatusLabels[8] = {
    {reset_flag, "RESET"},          {driver_error1, "DRIVER_ERROR"},         {driver_error2, "STALL_GUARD"},
    {velocity_reached1, "STAND_STILL"}, {velocity_reached2, "VELOCITY_REACHED"}, {status_stop_l1, "POSITION_REACHED"},
    {status_stop_l2, "STOP_L"},     {reserved, "STOP_R"}};

uint32_t dataOf(const uint8_t* reply) {
    return static_cast<uint32_t>(reply[1]) << 24 | static_cast<uint32_t>(reply[2]) << 16 |
           static_cast<uint32_t>(reply[3]) << 8 | reply[4];
}

void putData(uint8_t* datagram, uint8_t address, uint32_t value) {
    datagram[0] = address;
    datagram[1] = static_cast<uint8_t>(value >> 24);
    datagram[2] = static_cast<uint8_t>(value >> 16);
    datagram[3] = static_cast<uint8_t>(value >> 8);
    datagram[4] = static_cast<uint8_t>(value);
}
}  // namespace

int TMC5041::rampStatusString(char* buffer, size_t size, uint8_t status) {
    std::string text = "[";
    for (const auto& s : kStatusLabels) {
        if ((status & s.bit) == 0) continue;
        if (text.size() > 1) text += ' ';
        text += s.label;
    }
    text += ']';
    if (size > 0) std::snprintf(buffer, size, "%s", text.c_str());
    return static_cast<int>(text.size());
}

bool TMC5041::transfer(const uint8_t* tx, uint8_t* rx, int length) {
    const bool ok = SPI::transfer(tx, rx, length);
    if (verbosity >= 5 && logEnabled(5) && length > 0) {
        std::string line = "TX";
        char part[128];
        for (int i = 0; i < length; ++i) {
            std::snprintf(part, sizeof part, " %02X", tx[i]);
            line += part;
        }
        rampStatusString(part, sizeof part, rx[0]);
        line += "  RX ";
        line += part;
        for (int i = 0; i < length; ++i) {
            std::snprintf(part, sizeof part, " %02X", rx[i]);
            line += part;
        }
        logAt(5, "%s   Return %s\n", line.c_str(), ok ? "true" : "false");
    }
    return ok;
}

void TMC5041::trace(int level, const char* prefix, uint8_t reg, uint32_t value, const char* suffix) {
    if (!logEnabled(level)) return;
    char line[1024];
    int used = 0;
    if (prefix != nullptr) used = std::snprintf(line, sizeof line, "%s ", prefix);
    used += std::snprintf(line + used, sizeof line - static_cast<size_t>(used), "TMC5041@0x%04x = %d (0x%08x) ", reg,
                          static_cast<int>(value), value);
    used += rampStatusString(line + used, sizeof line - static_cast<size_t>(used), last_status.load());
    if (suffix != nullptr && used < static_cast<int>(sizeof line))
        std::snprintf(line + used, sizeof line - static_cast<size_t>(used), " %s", suffix);
    logAt(level, "%s\n", line);
}

bool TMC5041::readRegister(uint8_t reg, uint32_t& value) {
    reg &= tmc5041::kAddressMask;
    const uint8_t access = tmc5041::accessTable()[reg];
    if (access == 0) {
        trace(2, "get", reg, 0, "error register is undefined");
        return false;
    }
    if ((access & tmc5041::kReadable) == 0) {
        value = shadow[reg].load();
        if (verbosity >= 4) trace(5, "get", reg, value, "cached");
        return true;
    }
    uint8_t tx[10] = {reg, 0, 0, 0, 0, reg, 0, 0, 0, 0};
    uint8_t rx[10] = {};
    if (!transfer(tx, rx, sizeof tx)) {
        trace(2, "get", reg, value, "error");
        return false;
    }
    value = dataOf(rx + 5);
    last_status = rx[5];
    if (verbosity >= 4) trace(5, "get", reg, value, nullptr);
    return true;
}

bool TMC5041::writeRegister(uint8_t reg, uint32_t value) {
    reg &= tmc5041::kAddressMask;
    if ((tmc5041::accessTable()[reg] & tmc5041::kWritable) == 0) {
        trace(2, "SET", reg, value, "error register not writeable");
        return false;
    }
    uint8_t tx[10] = {};
    uint8_t rx[10] = {};
    putData(tx, static_cast<uint8_t>(reg | tmc5041::kWriteBit), value);
    if (!transfer(tx, rx, sizeof tx)) {
        trace(2, "SET", reg, value, "error");
        return false;
    }
    if (dataOf(rx + 5) != value) {
        // A write the chip did not confirm is a failure like any other: shown by default.
        trace(2, "SET", reg, value, "error");
        return false;
    }
    last_status = rx[5];
    shadow[reg] = value;
    if (verbosity >= 4) trace(5, "SET", reg, value, nullptr);
    return true;
}

void TMC5041::writeAllRegisters(const std::array<uint32_t, tmc5041::kRegisters>& values) {
    for (int reg = 0; reg < tmc5041::kRegisters; ++reg)
        if (tmc5041::accessTable()[static_cast<size_t>(reg)] & tmc5041::kWritable)
            writeRegister(static_cast<uint8_t>(reg), values[static_cast<size_t>(reg)]);
}
