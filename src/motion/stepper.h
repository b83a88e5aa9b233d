// Stepper: the pan/tilt motion controller (motor 0 tilt, motor 1 pan), homing and limits.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "hw/hardware.h"
#include "motion/multi_port.h"
#include "motion/tmc5041.h"
#include "motion/zoom_servo.h"

class eepromDevice;

class Stepper : public TMC5041 {
public:
    static constexpr int kTilt = 0;
    static constexpr int kPan = 1;
    static constexpr int kBadMotor = 8;
    static constexpr uint32_t kTiltHomingSpeed = 59000;
    // Scaled by the speed-up: the pan homing and escape speed.
    static constexpr uint32_t kPanHomingSpeed = 143000;
    // Microsteps a motor moves to leave a switch it stands on.
    static constexpr int32_t kEscapeDistance = 30000;
    // The motion controller's interrupt line.
    static constexpr int kMotionIrq = hardware::ndi_dec;

    // Tilt currents (IHOLD_IRUN): resting, moving, and in free mode.
    static constexpr uint32_t kTiltCurrentDefault = tmc5041::kCurrentStartup;
    static constexpr uint32_t kTiltCurrentMoving = tmc5041::iholdIrun({.ihold = 10, .irun = 23, .iholddelay = 15});
    static constexpr uint32_t kTiltCurrentMax = tmc5041::iholdIrun({.ihold = 31, .irun = 31, .iholddelay = 15});
    static_assert(kTiltCurrentDefault == 0x000F1703);
    static_assert(kTiltCurrentMoving == 0x000F170A);
    static_assert(kTiltCurrentMax == 0x000F1F1F);

    Stepper(std::shared_ptr<hardware> hw, uint8_t limit_check, std::shared_ptr<eepromDevice> eeprom,
            int32_t limit_degree, float max_speed_up,
            std::shared_ptr<platform::Platform> platform = platform::installed());
    ~Stepper() override;

    bool begin(const char* spi_path);
    bool handshake(int motor);
    // Wakes every wait of the head's threads, the zoom's and the adapter's without waiting for
    // them, so that a caller may ask the rest of the camera to stop meanwhile.
    void requestStop();
    void close();

    int rotate(int motor, int32_t speed);
    int rotateReverse(int motor, int32_t speed) { return rotate(motor, -speed); }
    int stop(int motor);
    int moveAbsolute(int motor, int32_t position, uint32_t vmax);
    int moveRelative(int motor, int32_t delta, uint32_t vmax);
    uint32_t speedFromIndex(int motor, int index) const;
    void setSwitchMode(int motor, uint32_t value);
    uint32_t tiltRampStatus() const { return tilt_ramp_stat.load(); }
    uint32_t panRampStatus() const { return pan_ramp_stat.load(); }
    void setMaxSpeedUp(float value) { max_speed_up = value; }
    // kPanHomingSpeed x the speed-up.
    uint32_t panHomingSpeed() const;

    // Homing and limits.
    bool limitExit();
    void limitStart();
    bool homeAxisStep(int axis);
    void ctrlPTZ();

    // The zoom bus servo, and its restart for the front-ends (false when no servo answers).
    ZoomServo& zoom() { return *zoomServo; }
    bool zoomLimitRestart();
    // The MultiPort adapter, and its probe (multiport_mode holds the answer): true when it answered.
    MultiPort& multiPort() { return *multiport; }
    bool detectMultiPort();

    // Shared with the motion operations and the front-ends.
    std::atomic<uint8_t> limit_check;
    std::atomic<int32_t> pan_target{0}, tilt_target{0};
    std::atomic<int32_t> last_cmd{0};
    std::atomic<int32_t> limit_state{-1};
    std::atomic<int32_t> saved_limit_state{-1};
    std::atomic<int32_t> pan_left{0}, pan_right{0}, pan_center{0};
    std::atomic<int32_t> tilt_down{0}, tilt_up{0}, tilt_center{0};
    std::atomic<int8_t> multiport_mode{0};
    std::atomic<uint8_t> servo_flags{0};
    int32_t pan_search_pos = 0, pan_search_neg = 0;
    // Set by the homing thread when an axis found no switch over its whole search.
    bool search_given_up = false;

private:
    // The ramp a move restores after a stop (which clears V1) and homing leaves behind.
    static constexpr uint32_t kMoveV1 = 1000, kMoveAmax = 3000;

    bool validMotor(int motor) const { return motor == kTilt || motor == kPan; }
    int32_t readPosition(int motor);
    uint32_t readRampStatus(int motor);
    // Sleeps unless a stop is requested; false when the stop flag ends it.
    bool pause(std::chrono::milliseconds duration);
    // Waits for the motion interrupt in 100 ms slices; false when the stop flag is set.
    bool waitMotionEvent();
    int waitMotionSlice();
    void startControlThread();

    // limitExit parts
    void escapeBoth(uint32_t tilt, uint32_t pan);
    void escapeTilt(uint32_t tilt);
    void escapePan(uint32_t pan);
    void escapeOldTilt(const char* message);
    bool waitEscape(int32_t tiltGoal, bool waitTilt, int32_t panGoal, bool waitPan);
    void fixedLimits();
    void slowRamps(int motor);

    // homing and control parts
    bool homePan(uint32_t status);
    bool homeTilt();
    bool searchEndedWithoutSwitch(int axis, uint32_t status) const;
    bool giveUpSearch(int axis);
    void pollSwitchesClear(int motor);
    void controlEscape();
    void controlTiltBoth(uint32_t status, int32_t position);
    void controlQuietPass(int& timeouts, int& idleChecks);
    void controlEventPass();
    void reportReached(int motor, uint32_t status);

    std::shared_ptr<eepromDevice> eeprom;
    std::shared_ptr<hardware> hw;
    int32_t limit_degree;
    std::atomic<float> max_speed_up;
    std::atomic<uint32_t> tilt_ramp_stat{0}, pan_ramp_stat{0};

    std::atomic<bool> stop_flag{false};
    std::mutex pause_mutex;
    std::condition_variable pause_wake;
    std::thread homing_thread;
    std::thread control_thread;
    std::unique_ptr<ZoomServo> zoomServo;
    std::unique_ptr<MultiPort> multiport;
    uint64_t signal_token = 0;
};
