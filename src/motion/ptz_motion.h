// Pan/tilt motion operations the front-ends ask for: drive, stop, home, absolute moves, free mode,
// and saving the motion settings to the configuration file.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class Stepper;

class PtzMotion {
public:
    // Direction codes shared with the front-ends.
    enum Direction : int {
        kHome = 0,
        kUp = 1,
        kDown = 2,
        kLeft = 3,
        kRight = 4,
        kUpLeft = 5,
        kUpRight = 6,
        kDownLeft = 7,
        kDownRight = 8,
        kStop = 9,
        kAbsolute = 10,
        kNoOperation = 255,
    };
    // One degree of pan or tilt: drives stop this far inside the homed limits.
    static constexpr int32_t kLimitOffset = 8533;
    // Absolute targets at most this far beyond the drive targets are pulled back onto them.
    static constexpr int32_t kAbsoluteClamp = 255;
    static constexpr int32_t kFreeTiltTravel = 500000;
    static constexpr int32_t kFreePanTravel = 4000000;
    static constexpr int kMaxIndex = 24;

    // `configPath`: the configuration file the settings are written to.
    PtzMotion(std::shared_ptr<Stepper> stepper, std::string configPath);

    // -1 when refused (not homed, limit checking on, not free mode); 0 otherwise.
    // direct: VISCA speed indices; otherwise speeds -1..1 whose signs give the direction.
    int panTiltMove(int free_mode, int direct, int direction, float pan_speed, float tilt_speed);
    // One direction code with speed indices 0..24; -1 for an unknown code.
    int panTiltDrive(int direction, int pan_index, int tilt_index, int free_mode);
    // Writes PtzMaxSpeedUp (0x2010), PAN_REVERSE (0x200E) or TILT_REVERSE (0x200F); a file
    // that cannot be written is logged and the setting stays unsaved.
    void configWrite(int32_t code);

    // Settings the commands change and the inquiries read; each one word, read and written whole.
    std::atomic<uint8_t> pan_reverse{0};
    std::atomic<uint8_t> tilt_reverse{0};
    std::atomic<uint8_t> qc_mode{0};
    std::atomic<float> max_speed_up{1.0f};

private:
    struct Targets {
        int32_t up, down, left, right;
    };
    struct Limits {
        int32_t up, down, left, right;
    };

    int applyReverse(int direction) const;
    Targets driveTargets(bool free) const;
    Limits homedLimits() const;
    void tiltUp(const Targets& t, const Limits& l, uint32_t velocity);
    void tiltDown(const Targets& t, const Limits& l, uint32_t velocity);
    void panLeft(const Targets& t, const Limits& l, uint32_t velocity);
    void panRight(const Targets& t, const Limits& l, uint32_t velocity);
    void goHome();
    void stopBoth();
    void goAbsolute(const Targets& t, uint32_t tiltVelocity, uint32_t panVelocity);
    bool driveDirection(int code, const Targets& t, uint32_t tiltVelocity, uint32_t panVelocity);

    std::shared_ptr<Stepper> stepper;
    std::string configPath;
};
