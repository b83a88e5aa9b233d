// ZoomServo: the zoom lens on its serial bus servo: detection, the two zoom settings kept in
// the EEPROM, calibration against both mechanical ends, the drive loop that turns the
// continuous zoom request into short position steps, and the positioned zoom operations.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "motion/sms_sts.h"

class eepromDevice;

class ZoomServo {
public:
    static constexpr uint8_t kId = 1;
    static constexpr const char* kPort = "/dev/ttyS1";
    static constexpr int kBaud = 115200;
    // EEPROM bytes of the two settings.
    static constexpr long kTorqueOffset = 124;
    static constexpr long kDirectionOffset = 126;
    static constexpr int16_t kDefaultTorqueLimit = 450;
    static constexpr int kMaxTorqueLimit = 1000;
    // Calibration: probing moves, and the margin kept inside each end.
    static constexpr int16_t kProbeSteps = 10000;
    static constexpr uint16_t kProbeSpeed = 400;
    static constexpr uint8_t kProbeAcc = 50;
    // Drive loop: steps ahead of the present position per pass, and the pass period.
    static constexpr int kDriveStep = 60;
    static constexpr auto kDrivePeriod = std::chrono::milliseconds(30);
    static constexpr int kFailuresBeforeLoss = 10;
    // Answered probes standing still without the end-stop load before the search for an end
    // is given up (about a second).
    static constexpr int kStillProbesWithoutEnd = 100;
    static constexpr int kInquiryReads = 10;
    // Zoom positions of the front-ends run 0..16384; speed index 0..7.
    static constexpr int kScale = 16384;
    static constexpr std::array<uint16_t, 8> kSpeeds = {30, 50, 100, 200, 400, 800, 1600, 2400};
    static constexpr std::array<uint8_t, 8> kAccelerations = {5, 10, 20, 30, 40, 50, 60, 70};

    // servo_flags: the Stepper's flags; bit 0 set while the zoom is driven by the servo.
    ZoomServo(std::atomic<uint8_t>& servo_flags, std::shared_ptr<eepromDevice> eeprom);
    ~ZoomServo();
    ZoomServo(const ZoomServo&) = delete;
    ZoomServo& operator=(const ZoomServo&) = delete;

    // Detection and set-up. Throws std::runtime_error("Failed to init sms/sts motor") when the
    // port cannot be opened; true otherwise (bit 0 of servo_flags tells whether it answered).
    bool zoomServoInit(uint8_t id);
    bool loadZoomTorqueLimit();
    bool setZoomTorqueLimit(int value);
    bool loadZoomDirection();
    bool setZoomDirection(int reverse);
    void startZoomThread();
    // Stops the thread, repeats detection and calibration; false when no servo answers.
    bool zoomLimitRestart();
    // Wakes the thread's waits without waiting for it to end.
    void requestStop();
    // Ends the thread (torque off) within a second; the port stays as it is.
    void close();

    // Continuous zoom request, carried out by the zoom thread.
    void zoomDrive(int speed, int integer_form, float speed_f);
    int zoomPosRel(int delta, int speed);
    int zoomPosAbs(int position, int speed);
    int zoomPosAbsNormalized(float position_f);

    // The present position for the inquiries: up to kInquiryReads reads while answers come back
    // garbled, none after an unanswered one; -1 when all failed.
    int presentPosition();
    // The present servo position clamped to the calibrated range, or 0 without a calibrated servo.
    int storedZoomPosition();
    // Moves to a stored servo position; false without a calibrated servo.
    bool moveTo(int position, int speedIndex);
    // Calibrated and driven by the servo.
    bool calibrated() const { return zoom_ready.load() != 0 && (servo_flags.load() & 1) != 0; }
    bool threadRunning() const { return thread.joinable(); }

    SMS_STS servo;
    std::mutex zoom_mutex;  // every exchange with the servo and the drive request
    std::atomic<uint8_t> zoom_ready{0};
    std::atomic<uint8_t> zoom_stop{0};
    std::atomic<int32_t> zoom_width{0};
    std::atomic<uint16_t> zoom_min{0}, zoom_max{0};
    std::atomic<int16_t> zoom_torque_limit{kDefaultTorqueLimit};
    std::atomic<int8_t> zoom_reverse{0};
    // The drive request (under zoom_mutex).
    int8_t m_zoom_dir = 0;
    uint16_t m_zoom_acc = 0;
    int16_t m_zoom_speed = 0;

private:
    struct Feedback {
        int target = 0, position = 0, speed = 0, load = 0, moving = 0;
        bool answered = false;
    };
    enum class EndSearch { kFound, kNoEnd, kStopping };
    void zoomServoThread();
    // Each returns false when the thread is asked to end.
    bool calibrate();
    bool probe(Feedback& f);
    EndSearch waitEnd(Feedback& f);
    bool foundEnd(Feedback& f, const char* side);
    bool centre();
    void drivePass(int& failures, bool& wasMoving);
    bool pause(std::chrono::milliseconds duration);
    bool stopping() const { return stop_flag.load() || zoom_stop.load() != 0; }
    bool readyLocked() const { return zoom_ready.load() != 0 && (servo_flags.load() & 1) != 0; }

    std::atomic<uint8_t>& servo_flags;
    std::shared_ptr<eepromDevice> eeprom;
    std::atomic<bool> stop_flag{false};
    std::mutex wake_mutex;
    std::condition_variable wake;
    std::thread thread;
};
