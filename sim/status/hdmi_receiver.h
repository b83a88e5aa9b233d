// The HDMI receiver chip at 0x48 on the simulated i2c-1: a 256-byte register file, the signal
// detect and lock of the source, its timing measurements, colour format and audio status.
//
// 0x10 status: bit 1 TMDS signal detected, bit 2 video stable (locked 100 ms after the signal
// appears or after a reset through 0x05 bit 7). 0x15 bits 4-3 audio FIFO faults, cleared by
// 0x05 bit 2 (audio reset). 0x58 bit 1 interlaced; 0x59-0x5B horizontal total/active and
// 0x5F-0x61 vertical total/active of one field (high nibbles in 0x5A, 0x60); 0x64 pixel clock
// measure, 3456000 / kHz, saturating at 255; 0xAE bits 6-5 incoming colour (0 RGB, 1 YCbCr 4:2:2,
// 2 YCbCr 4:4:4). The output runs once 0x20 bit 7 is pulsed while locked. Timing reads 0 unless
// the video is stable.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "sim/status/i2c_target.h"
#include "sim/media/video_input.h"

namespace sim {

class HdmiReceiver : public I2cTarget {
public:
    static constexpr uint16_t kAddress = 0x48;
    static constexpr std::chrono::milliseconds kDefaultLockTime{100};
    enum class Colour : uint8_t { rgb = 0x00, ycbcr422 = 0x20, ycbcr444 = 0x40 };

    explicit HdmiReceiver(VideoInput& input);

    bool beginTransfer() override;
    bool i2cWrite(const uint8_t* data, size_t length) override;
    bool i2cRead(uint8_t* data, size_t length) override;

    // Back doors for tests and fault injection.
    void setColour(Colour colour);
    void failTransfers(int count);  // the next `count` transfers fail; -1 all of them; 0 none
    void setClockUnreadable(bool unreadable);
    // How long the receiver takes to lock on a new source; 0 locks at once, as a receiver
    // that tracks a change without losing the picture.
    void setLockTime(std::chrono::milliseconds time);
    void raiseAudioFault();
    uint8_t registerValue(uint8_t reg);
    std::string stateName();
    uint64_t transfers();
    uint64_t transferErrors();
    void report(nlohmann::json& state);

private:
    using clock = std::chrono::steady_clock;

    void inputChanged(const InputFormat& format);
    bool locked(clock::time_point now) const;
    uint8_t readLocked(uint8_t reg, clock::time_point now) const;
    uint8_t timing(uint8_t reg) const;
    void writeLocked(uint8_t reg, uint8_t value);

    std::mutex mutex;
    std::array<uint8_t, 256> regs{};
    uint8_t pointer = 0;
    InputFormat source;
    clock::time_point lockStart;
    std::chrono::milliseconds lockTime = kDefaultLockTime;
    Colour colour = Colour::ycbcr422;
    bool outputPulse = false;
    bool outputRunning = false;
    bool clockUnreadable = false;
    uint8_t audioFaults = 0;
    int failing = 0;
    uint64_t transferCount = 0, errorCount = 0;
};

}  // namespace sim
