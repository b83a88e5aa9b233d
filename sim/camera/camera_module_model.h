// The camera in the head as the FPGA reaches it: the LANC transmitter word (register 16 of
// block 1024) and the power switch and sense (register 18). The camera turns on some time
// after its switch is pressed and off on LANC 0x5E; while on, LANC zoom and focus move its
// lens for as long as a word stands, and key, iris and toggle words act once per press.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

#include <nlohmann/json_fwd.hpp>

#include "sim/fpga/register_block.h"

namespace sim {

struct CameraSettings {
    bool startsOn = true;                                // PTZSIM_CAMERA_POWER=on|off|stuck
    bool stuck = false;                                  // the power sense never changes
    std::chrono::milliseconds powerOnDelay{1200};
    std::chrono::milliseconds powerOffDelay{400};
};

class CameraModuleModel : public RegisterBlock {
public:
    static constexpr uint32_t kFirstWord = 1024 + 16;  // block 1024, registers 16..18
    static constexpr uint32_t kWords = 3;
    static constexpr uint32_t kLanc = 0;
    static constexpr uint32_t kPower = 2;
    static constexpr int kLensTop = 10000;
    static constexpr int kIrisTop = 17;

    explicit CameraModuleModel(const CameraSettings& settings);

    void onWrite(uint32_t reg, uint32_t oldValue, uint32_t newValue, uint32_t laneMask) override;
    std::optional<uint32_t> onRead(uint32_t reg) override;

    struct View {
        bool on = false;
        uint32_t lanc = 0;  // the last command word sent (release words are not commands)
        int zoom = 0, focus = 0, iris = 0;
        bool autoFocus = true, autoExposure = true, recording = false;
        uint64_t keys = 0;  // key presses taken
    };
    View view();
    void report(nlohmann::json& state);

private:
    using Clock = std::chrono::steady_clock;
    // Callers hold the mutex.
    void advance(Clock::time_point now);
    void press(uint32_t word, Clock::time_point now);
    void lensRates(uint32_t word);

    CameraSettings settings;
    std::mutex mutex;
    View state;
    uint32_t standing = 0;                 // the word on the transmitter now
    uint32_t powerWord = 0;                // register 18 as last written
    double zoomRate = 0, focusRate = 0;    // lens units a second while the word stands
    double zoomExact = 0, focusExact = 0;
    Clock::time_point lastAdvance;
    std::optional<Clock::time_point> turnsOn, turnsOff;
};

}  // namespace sim
