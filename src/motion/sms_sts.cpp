#include "motion/sms_sts.h"

#include <cstdlib>

namespace {
constexpr int kPositionSign = 15;
constexpr int kLoadSign = 10;
constexpr int kOffsetSign = 11;
}  // namespace

uint16_t SMS_STS::toSignMagnitude(int value, int signBit) {
    if (value >= 0) return static_cast<uint16_t>(value);
    return static_cast<uint16_t>((std::abs(value) & ((1 << signBit) - 1)) | (1 << signBit));
}

int SMS_STS::fromSignMagnitude(int raw, int signBit) {
    if (raw & (1 << signBit)) return -(raw & ((1 << signBit) - 1));
    return raw;
}

int SMS_STS::write16(uint8_t id, uint8_t address, uint16_t value) {
    uint8_t bytes[2];
    split16(value, bytes);
    return writeRegisters(id, address, bytes, 2);
}

// acc; position; time (0); speed.
void SMS_STS::posExBytes(uint8_t* bytes, int16_t position, uint16_t speed, uint8_t acc) {
    const uint16_t pos = toSignMagnitude(position, kPositionSign);
    bytes[0] = acc;
    bytes[1] = static_cast<uint8_t>(pos & 0xFF);
    bytes[2] = static_cast<uint8_t>(pos >> 8);
    bytes[3] = 0;
    bytes[4] = 0;
    bytes[5] = static_cast<uint8_t>(speed & 0xFF);
    bytes[6] = static_cast<uint8_t>(speed >> 8);
}

int SMS_STS::WritePosEx(uint8_t id, int16_t position, uint16_t speed, uint8_t acc) {
    uint8_t bytes[7];
    posExBytes(bytes, position, speed, acc);
    return writeRegisters(id, kAcceleration, bytes, 7);
}

int SMS_STS::regWritePosEx(uint8_t id, int16_t position, uint16_t speed, uint8_t acc) {
    uint8_t bytes[7];
    posExBytes(bytes, position, speed, acc);
    return deferredWrite(id, kAcceleration, bytes, 7);
}

void SMS_STS::syncWritePosEx(const uint8_t* ids, uint8_t n, const int16_t* positions, const uint16_t* speeds,
                             const uint8_t* accs) {
    uint8_t data[7 * 32];
    const uint8_t count = n < 32 ? n : 32;
    for (uint8_t i = 0; i < count; ++i) posExBytes(data + 7 * i, positions[i], speeds[i], accs[i]);
    syncWrite(ids, count, kAcceleration, data, 7);
}

int SMS_STS::setWheelMode(uint8_t id) { return writeRegister8(id, kMode, kWheelMode); }
int SMS_STS::setOperatingMode(uint8_t id, uint8_t mode) { return writeRegister8(id, kMode, mode); }

int SMS_STS::setSpeed(uint8_t id, uint16_t speed, uint8_t acc) {
    writeRegister8(id, kAcceleration, acc);
    return write16(id, kGoalSpeed, speed);
}

int SMS_STS::setAcceleration16(uint8_t id, uint16_t value) { return write16(id, kAcceleration, value); }
int SMS_STS::setGoalSpeed(uint8_t id, uint16_t speed) { return write16(id, kGoalSpeed, speed); }
int SMS_STS::setTorqueLimit(uint8_t id, uint16_t limit) { return write16(id, kTorqueLimit, limit); }

int SMS_STS::setAngleLimits(uint8_t id, uint16_t min, uint16_t max) {
    if (min > 4094 || max > 4095) return -1;
    uint8_t bytes[4];
    split16(min, bytes);
    split16(max, bytes + 2);
    return writeRegisters(id, kMinAngleLimit, bytes, 4);
}

int SMS_STS::setOffset(uint8_t id, int offset) {
    return write16(id, kOffset, static_cast<uint16_t>(toSignMagnitude(offset, kOffsetSign) & 0x0FFF));
}

int SMS_STS::setGoalPosition(uint8_t id, int16_t position) {
    return write16(id, kGoalPosition, toSignMagnitude(position, kPositionSign));
}

int SMS_STS::setTorqueEnable(uint8_t id, uint8_t value) { return writeRegister8(id, kTorqueEnable, value); }
int SMS_STS::unlockEeprom(uint8_t id) { return writeRegister8(id, kLock, 0); }
int SMS_STS::lockEeprom(uint8_t id) { return writeRegister8(id, kLock, 1); }

int SMS_STS::calibrateCenter(uint8_t id) {
    no_answer = 0;
    const int value = readRegister16(id, kTorqueEnable);
    if (value == -1) {
        no_answer = 1;
        return value;
    }
    return writeRegister8(id, kTorqueEnable, static_cast<uint8_t>((value & 1) | 128));
}

int SMS_STS::readFeedback(int id) {
    no_answer = 0;
    if (readRegisters(static_cast<uint8_t>(id), kPresentPosition, feedback, kFeedbackBytes) != kFeedbackBytes) {
        no_answer = 1;
        return -1;
    }
    return kFeedbackBytes;
}

int SMS_STS::direct8(int id, uint8_t address) {
    no_answer = 0;
    const int value = readRegister8(static_cast<uint8_t>(id), address);
    if (value == -1) no_answer = 1;
    return value;
}

int SMS_STS::direct16(int id, uint8_t address) {
    no_answer = 0;
    const int value = readRegister16(static_cast<uint8_t>(id), address);
    if (value == -1) no_answer = 1;
    return value;
}

int SMS_STS::signed16(int id, uint8_t address, int signBit) {
    int raw;
    if (id == -1) {
        raw = join16(feedback + (address - kPresentPosition));
    } else {
        raw = direct16(id, address);
        if (raw == -1) return -1;
    }
    return fromSignMagnitude(raw, signBit);
}

int SMS_STS::byteOf(int id, uint8_t address) {
    if (id == -1) return feedback[address - kPresentPosition];
    return direct8(id, address);
}

int SMS_STS::readPosition(int id) { return signed16(id, kPresentPosition, kPositionSign); }

int SMS_STS::readGoalPosition(int id) {
    const int raw = direct16(id, kGoalPosition);
    return raw == -1 ? -1 : fromSignMagnitude(raw, kPositionSign);
}

int SMS_STS::readSpeed(int id) { return signed16(id, kPresentSpeed, kPositionSign); }
int SMS_STS::readLoad(int id) { return signed16(id, kPresentLoad, kLoadSign); }
int SMS_STS::readVoltage(int id) { return byteOf(id, kVoltage); }
int SMS_STS::readTemperature(int id) { return byteOf(id, kTemperature); }
int SMS_STS::readMoving(int id) { return byteOf(id, kMoving); }
int SMS_STS::readCurrent(int id) { return signed16(id, kCurrent, kPositionSign); }
int SMS_STS::readTarget(int id) { return signed16(id, kTarget, kPositionSign); }

int SMS_STS::readOffset(int id) {
    const int raw = direct16(id, kOffset);
    return raw == -1 ? 4095 : fromSignMagnitude(raw & 0x0FFF, kOffsetSign);
}

int SMS_STS::readByteChecked(int id, uint8_t address) { return direct8(id, address); }
int SMS_STS::readWordChecked(int id, uint8_t address) { return direct16(id, address); }
