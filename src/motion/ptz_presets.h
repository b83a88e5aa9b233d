// PtzPresets: the ten pan/tilt/zoom presets, kept in the EEPROM and in memory: load and
// format, save, clear, and recall with both axes arriving together.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

class Stepper;
class eepromDevice;

class PtzPresets {
public:
    static constexpr int kCount = 10;
    static constexpr int kRecordBytes = 12;  // kind, speed, tilt (4), pan (4), zoom (2)
    static constexpr long kAreaBytes = kCount * kRecordBytes;
    static constexpr long kMagicOffset = 127;
    static constexpr uint8_t kMagic = 0x55;
    static constexpr uint8_t kEmpty = 0xFF;
    static constexpr uint8_t kDefaultSpeed = 24;
    using Record = std::array<uint8_t, kRecordBytes>;

    explicit PtzPresets(std::shared_ptr<eepromDevice> eeprom);

    // The motion controller the presets read and move; set once it exists.
    void attach(std::shared_ptr<Stepper> stepper);

    bool presetLoad();
    bool presetInit();
    // 1 when saved, 0 otherwise (clear_only: emptied in memory only, 0).
    int PreSave(int index, int clear_only);
    bool presetClear(int index);
    // 0 when the move was started, -1 when refused.
    int PreReCall(int index, int direct, float speed);

    // The recall speed byte, shared with the VISCA decoder (one atomic byte each).
    uint8_t presetSpeed(int index) const;
    void setPresetSpeed(int index, uint8_t speed);
    Record record(int index) const;
    uint8_t magic() const { return magic_byte; }

    // The recall speed index of a speed argument (direct: VISCA 1..24; otherwise 0..1).
    static int recallSpeedIndex(int direct, float speed);
    // The zoom speed index of a pan/tilt speed index; indices 1 and 2 would give -1, the
    // slowest entry is used for them.
    static int zoomSpeedIndex(int speedIndex);

private:
    static bool validIndex(int index) { return index >= 0 && index < kCount; }
    void empty(Record& record);
    Record copy(int index) const;
    bool writeRecord(int index);

    std::shared_ptr<eepromDevice> eeprom;
    std::shared_ptr<Stepper> stepper;
    std::array<Record, kCount> presets{};
    uint8_t magic_byte = 0;
};
