// SMS_STS: the register map of the SMS/STS serial bus servos: position, speed, torque, mode,
// feedback. Signed values travel in sign-magnitude form.
#pragma once

#include <cstdint>

#include "motion/scserial.h"

class SMS_STS : public SCSerial {
public:
    // Register addresses.
    static constexpr uint8_t kMinAngleLimit = 9;
    static constexpr uint8_t kMaxAngleLimit = 11;
    static constexpr uint8_t kPositionP = 21;
    static constexpr uint8_t kPositionD = 22;
    static constexpr uint8_t kPositionI = 23;
    static constexpr uint8_t kCalibrationStart = 30;
    static constexpr uint8_t kOffset = 31;
    static constexpr uint8_t kMode = 33;
    static constexpr uint8_t kTorqueEnable = 40;
    static constexpr uint8_t kAcceleration = 41;
    static constexpr uint8_t kGoalPosition = 42;
    static constexpr uint8_t kGoalSpeed = 46;
    static constexpr uint8_t kTorqueLimit = 48;
    static constexpr uint8_t kLock = 55;
    static constexpr uint8_t kPresentPosition = 56;
    static constexpr uint8_t kPresentSpeed = 58;
    static constexpr uint8_t kPresentLoad = 60;
    static constexpr uint8_t kVoltage = 62;
    static constexpr uint8_t kTemperature = 63;
    static constexpr uint8_t kMoving = 66;
    static constexpr uint8_t kTarget = 67;
    static constexpr uint8_t kCurrent = 69;
    static constexpr int kFeedbackBytes = 15;  // registers 56..70

    // Operating modes.
    static constexpr uint8_t kPositionMode = 0;
    static constexpr uint8_t kWheelMode = 1;
    static constexpr uint8_t kStepMode = 3;

    // Sign-magnitude: a negative value is its magnitude with the sign bit set.
    static uint16_t toSignMagnitude(int value, int signBit);
    static int fromSignMagnitude(int raw, int signBit);

    SMS_STS() { byte_order = 0; }

    int WritePosEx(uint8_t id, int16_t position, uint16_t speed, uint8_t acc);
    int regWritePosEx(uint8_t id, int16_t position, uint16_t speed, uint8_t acc);
    void syncWritePosEx(const uint8_t* ids, uint8_t n, const int16_t* positions, const uint16_t* speeds,
                        const uint8_t* accs);
    int setWheelMode(uint8_t id);
    int setOperatingMode(uint8_t id, uint8_t mode);
    int setSpeed(uint8_t id, uint16_t speed, uint8_t acc);
    int setAcceleration16(uint8_t id, uint16_t value);
    int setGoalSpeed(uint8_t id, uint16_t speed);
    int setTorqueLimit(uint8_t id, uint16_t limit);
    // -1 without sending when min > 4094 or max > 4095.
    int setAngleLimits(uint8_t id, uint16_t min, uint16_t max);
    int setOffset(uint8_t id, int offset);
    int setGoalPosition(uint8_t id, int16_t position);
    int setTorqueEnable(uint8_t id, uint8_t value);
    int unlockEeprom(uint8_t id);
    int lockEeprom(uint8_t id);
    // The present position becomes the centre; the torque-enable state is kept.
    int calibrateCenter(uint8_t id);

    // 15 or -1; fills the cache the readers below use for id -1.
    int readFeedback(int id);
    int readPosition(int id);
    int readGoalPosition(int id);
    int readSpeed(int id);
    int readLoad(int id);
    int readVoltage(int id);
    int readTemperature(int id);
    int readMoving(int id);
    int readCurrent(int id);
    int readTarget(int id);
    // 4095 on failure.
    int readOffset(int id);
    int readByteChecked(int id, uint8_t address);
    int readWordChecked(int id, uint8_t address);

private:
    int write16(uint8_t id, uint8_t address, uint16_t value);
    // A direct register read with the no-answer bookkeeping; -1 on failure.
    int direct8(int id, uint8_t address);
    int direct16(int id, uint8_t address);
    // From the cache for id -1, else a direct 16-bit read; sign-converted unless it failed.
    int signed16(int id, uint8_t address, int signBit);
    int byteOf(int id, uint8_t address);
    static void posExBytes(uint8_t* bytes, int16_t position, uint16_t speed, uint8_t acc);

    uint8_t feedback[kFeedbackBytes]{};
};
