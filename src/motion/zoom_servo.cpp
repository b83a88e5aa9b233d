#include "motion/zoom_servo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>

#include "base/log.h"
#include "motion/eeprom_device.h"
#include "platform/thread_name.h"

using namespace std::chrono_literals;

namespace {
// Truncation toward zero that stays defined for any float the front-ends hand over.
int truncated(float value) {
    if (std::isnan(value)) return 0;
    return static_cast<int>(std::clamp(value, -1.0e6f, 1.0e6f));
}

size_t tableIndex(int speed) { return static_cast<size_t>(std::abs(speed)); }
}  // namespace

ZoomServo::ZoomServo(std::atomic<uint8_t>& flags, std::shared_ptr<eepromDevice> eeprom_)
    : servo_flags(flags), eeprom(std::move(eeprom_)) {}

ZoomServo::~ZoomServo() { close(); }

bool ZoomServo::zoomServoInit(uint8_t id) {
    servo_flags.fetch_and(static_cast<uint8_t>(~1u));
    zoom_ready = 0;
    if (!servo.open(kBaud, kPort)) throw std::runtime_error("Failed to init sms/sts motor");
    if (servo.ping(id) != id) {
        std::puts("\nZoomServo Close.");
        std::fflush(stdout);
        servo.close();
        return true;  // the MultiPort detection follows
    }
    std::puts("\nZoomServo detect ok.\n");
    std::fflush(stdout);
    servo_flags.fetch_or(1);
    loadZoomTorqueLimit();
    loadZoomDirection();
    servo.unlockEeprom(kId);
    servo.setOperatingMode(kId, SMS_STS::kStepMode);
    servo.setAngleLimits(kId, 0, 0);
    servo.setTorqueLimit(kId, static_cast<uint16_t>(zoom_torque_limit.load()));
    servo.setTorqueEnable(kId, 0);
    servo.calibrateCenter(kId);
    servo.writeRegister8(kId, SMS_STS::kPositionP, 100);
    servo.writeRegister8(kId, SMS_STS::kPositionD, 1);
    servo.writeRegister8(kId, SMS_STS::kPositionI, 100);
    return true;
}

bool ZoomServo::loadZoomTorqueLimit() {
    uint8_t bytes[2] = {};
    if (!eeprom || eeprom->read(kTorqueOffset, bytes, 2) != 2) {
        logAt(2, "Cannot read eeprom!\n");
        return false;
    }
    const int value = bytes[0] | bytes[1] << 8;
    if (value > kMaxTorqueLimit) {
        setZoomTorqueLimit(kDefaultTorqueLimit);
        logAt(2, "DEFAULT ZOOM TORQUE LIMIT (DEFAULT_ZOOM_SERVO_TORQUE_LIMIT)\n");
    } else {
        zoom_torque_limit = static_cast<int16_t>(value);
        logAt(5, "ZOOM TORQUE LIMIT : %d\n", value);
    }
    return true;
}

bool ZoomServo::setZoomTorqueLimit(int value) {
    zoom_torque_limit = static_cast<int16_t>(value);
    const uint8_t bytes[2] = {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF)};
    if (!eeprom || eeprom->write(kTorqueOffset, bytes, 2) != 2) {
        logAt(2, "Cannot write eeprom\n");
        return false;
    }
    logAt(5, "ZOOM_TORQUE_LIMIT_ADDR write 0x%X(%d)\n", static_cast<unsigned>(value), value);
    return true;
}

bool ZoomServo::loadZoomDirection() {
    uint8_t value = 0;
    if (!eeprom || eeprom->read(kDirectionOffset, &value, 1) != 1) {
        logAt(2, "Cannot read eeprom!\n");
        return false;
    }
    if (value >= 2) {
        setZoomDirection(0);
        logAt(5, "DEFAULT ZOOM SERVO DIRECTION (forward(0))\n");
    } else if (value == 1) {
        zoom_reverse = 1;
        logAt(5, "ZOOM COMMAND DIR : reverse(1)\n");
    } else {
        zoom_reverse = 0;
        logAt(5, "ZOOM COOMAND DIR : forward(0)\n");
    }
    return true;
}

bool ZoomServo::setZoomDirection(int reverse) {
    zoom_reverse = static_cast<int8_t>(reverse);
    const uint8_t value = static_cast<uint8_t>(reverse);
    if (!eeprom || eeprom->write(kDirectionOffset, &value, 1) != 1) {
        logAt(2, "Cannot write eeprom\n");
        return false;
    }
    logAt(5, "ZOOM_DIR_REVERSE_ADDR write 0x%X(%d)\n", static_cast<unsigned>(value), reverse);
    return true;
}

void ZoomServo::startZoomThread() {
    if (thread.joinable()) std::terminate();  // one zoom thread at a time
    thread = std::thread([this] {
        set_thread_name("zoomPTZ");
        zoomServoThread();
    });
}

void ZoomServo::requestStop() {
    {
        std::lock_guard lock(wake_mutex);
        stop_flag = true;
    }
    wake.notify_all();
}

void ZoomServo::close() {
    requestStop();
    if (thread.joinable()) thread.join();
}

bool ZoomServo::zoomLimitRestart() {
    if (thread.joinable()) {
        {
            std::lock_guard lock(wake_mutex);
            zoom_stop = 1;
        }
        wake.notify_all();
        thread.join();
        std::lock_guard lock(zoom_mutex);
        servo.close();
    }
    zoom_stop = 0;
    zoom_ready = 0;
    servo_flags.fetch_and(static_cast<uint8_t>(~1u));
    if (stop_flag.load()) return false;  // closing: nothing is started again
    {
        std::lock_guard lock(zoom_mutex);
        try {
            zoomServoInit(kId);
        } catch (const std::exception& error) {
            // At start-up this ends the program; on a running camera the zoom is only lost.
            std::puts(error.what());
        }
    }
    if ((servo_flags.load() & 1) != 0) {
        startZoomThread();
        return true;
    }
    std::puts("\n\nZoom Servo Limit Re-Start Failed\n");
    std::fflush(stdout);
    return false;
}

bool ZoomServo::pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(wake_mutex);
    return !wake.wait_for(lock, duration, [this] { return stopping(); });
}

void ZoomServo::zoomServoThread() {
    if (calibrate()) {
        int failures = 0;
        bool wasMoving = false;
        while (!stopping()) drivePass(failures, wasMoving);
    }
    servo.setTorqueEnable(kId, 0);
}

bool ZoomServo::probe(Feedback& f) {
    if (stopping()) return false;
    f.answered = servo.readFeedback(kId) == SMS_STS::kFeedbackBytes;
    if (f.answered) {
        f.target = servo.readTarget(-1);
        f.position = servo.readPosition(-1);
        f.speed = servo.readSpeed(-1);
        f.load = servo.readLoad(-1);
        f.moving = servo.readMoving(-1);
        logAt(5, "targetPos = %d ", f.target);
        logAt(5, "pos = %d ", f.position);
        logAt(5, "Speed = %d ", f.speed);
        logAt(5, "Load = %d ", f.load);
        logAt(5, "Move = %d \n", f.moving);
    }
    return pause(10ms);
}

// An end stop: the servo stands and pushes with all the torque it may use. A servo that
// stands without that load has finished its probing move short of any end: waiting on would
// never end.
ZoomServo::EndSearch ZoomServo::waitEnd(Feedback& f) {
    for (int still = 0; still < kStillProbesWithoutEnd;) {
        if (!probe(f)) return EndSearch::kStopping;
        if (f.speed == 0 && std::abs(f.load) == zoom_torque_limit.load()) return EndSearch::kFound;
        if (f.answered) still = (f.speed == 0 && f.moving == 0) ? still + 1 : 0;
    }
    return EndSearch::kNoEnd;
}

bool ZoomServo::foundEnd(Feedback& f, const char* side) {
    switch (waitEnd(f)) {
        case EndSearch::kFound: return true;
        case EndSearch::kNoEnd:
            logAt(2, "Zoom calibration: no %s end within %d steps, zoom not ready\n", side, kProbeSteps);
            return false;
        case EndSearch::kStopping: return false;
    }
    return false;
}

bool ZoomServo::calibrate() {
    logAt(5, "Zoom Servo Limit start\n\n");
    if (stopping()) return false;
    servo.writeRegister8(kId, SMS_STS::kCalibrationStart, 1);
    servo.setAcceleration16(kId, kProbeAcc);
    servo.setGoalSpeed(kId, 0);
    servo.setAngleLimits(kId, 0, 0);
    servo.setOperatingMode(kId, SMS_STS::kStepMode);
    servo.setTorqueLimit(kId, static_cast<uint16_t>(zoom_torque_limit.load()));
    logAt(5, "Servo reverse Start\n");
    servo.WritePosEx(kId, -kProbeSteps, kProbeSpeed, kProbeAcc);
    if (!pause(100ms)) return false;

    Feedback f;
    if (!foundEnd(f, "reverse")) return false;
    logAt(5, "#1 Servo reverse Limit Finish %d, %d, %d, %d\n", f.position, f.speed, f.load, f.moving);
    servo.setTorqueEnable(kId, 0);
    if (!pause(1s)) return false;
    logAt(5, "#1 Servo forward Start\n\n");
    for (int i = 0; i < 3; ++i) {
        servo.calibrateCenter(kId);
        if (!pause(10ms)) return false;
    }
    servo.WritePosEx(kId, kProbeSteps, kProbeSpeed, kProbeAcc);
    if (!pause(100ms)) return false;

    if (!foundEnd(f, "forward")) return false;
    logAt(5, "#2 Servo forward Limit Finish %d, %d, %d, %d\n", f.position, f.speed, f.load, f.moving);
    servo.setTorqueEnable(kId, 0);
    if (!pause(1s)) return false;
    zoom_width = kProbeSteps - f.position;
    const int width = zoom_width.load();
    logAt(5, "#2 Servo forward POS %d, %d, %d\n", f.position, 0, width);
    logAt(5, "#2 Servo Move to Centor %d\n", width / 2);
    servo.WritePosEx(kId, static_cast<int16_t>(-(width / 2)), kProbeSpeed, kProbeAcc);
    if (!pause(1s)) return false;
    do {
        if (!probe(f)) return false;
    } while (f.moving != 0);

    logAt(5, "#3 Servo Center POS %d %d %d\n", f.position, f.target, servo.readOffset(kId));
    if (!centre()) return false;
    zoom_max = static_cast<uint16_t>(width / 2 + 1998);
    zoom_min = static_cast<uint16_t>(2098 - width / 2);
    logAt(4, "#4 Zoom Servo Limit End. (MIN Pos: %d MAX Pos: %d\n\n", zoom_min.load(), zoom_max.load());
    zoom_ready = 1;
    return true;
}

// Position mode with the middle of the travel as the servo's centre (2048).
bool ZoomServo::centre() {
    servo.setOperatingMode(kId, SMS_STS::kPositionMode);
    servo.setAngleLimits(kId, 0, 4095);
    servo.setTorqueLimit(kId, static_cast<uint16_t>(zoom_torque_limit.load()));
    servo.setTorqueEnable(kId, 129);
    if (!pause(1s)) return false;
    servo.calibrateCenter(kId);
    servo.calibrateCenter(kId);
    if (!pause(100ms)) return false;
    const int offset = servo.readOffset(kId);
    const int target = servo.readTarget(kId);
    const int position = servo.readPosition(kId);
    if (!pause(10ms)) return false;
    logAt(5, "#3 Servo Center POS %d %d %d %d\n", position, target, offset, zoom_width.load());
    return true;
}

void ZoomServo::drivePass(int& failures, bool& wasMoving) {
    std::unique_lock lock(zoom_mutex);
    const int position = servo.readPosition(kId);
    if (servo.noAnswer() != 0) {
        lock.unlock();
        ++failures;
        if (failures > kFailuresBeforeLoss && (servo_flags.load() & 1) != 0) {
            logAt(5, "\nZoomServo detect Err.\n\n");
            servo_flags.fetch_and(static_cast<uint8_t>(~1u));  // the front-ends zoom otherwise now
            failures = 0;
        }
        pause(10ms);
        return;
    }
    if ((servo_flags.load() & 1) == 0) {
        logAt(5, "\nZoomServo detect Ok.\n\n");
        servo_flags.fetch_or(1);
    }
    failures = 0;
    if (m_zoom_dir < 0) {
        if (position + kDriveStep < zoom_max.load())
            servo.WritePosEx(kId, static_cast<int16_t>(position + kDriveStep), static_cast<uint16_t>(m_zoom_speed),
                             static_cast<uint8_t>(m_zoom_acc));
    } else if (m_zoom_dir > 0) {
        if (position - kDriveStep > zoom_min.load())
            servo.WritePosEx(kId, static_cast<int16_t>(position - kDriveStep), static_cast<uint16_t>(m_zoom_speed),
                             static_cast<uint8_t>(m_zoom_acc));
    } else {
        const int moving = servo.readMoving(kId);
        if (moving == -1) {
            logAt(5, "Move(-1) Err %d, Pos(%d)\n", 0, position);
        } else {
            if (moving == 0 && wasMoving)
                logAt(5, "ZOOM STOP POS : %d (MIN Pos: %d MAX Pos: %d)\n", position, zoom_min.load(), zoom_max.load());
            wasMoving = moving != 0;
        }
    }
    lock.unlock();
    pause(kDrivePeriod);
}

void ZoomServo::zoomDrive(int speed, int integer_form, float speed_f) {
    if (integer_form == 0) speed = static_cast<int8_t>(truncated(speed_f * 7.0f));
    if (std::abs(speed) > 7) speed = 0;
    std::lock_guard lock(zoom_mutex);
    m_zoom_acc = kAccelerations[tableIndex(speed)];
    m_zoom_speed = static_cast<int16_t>(kSpeeds[tableIndex(speed)]);
    m_zoom_dir = static_cast<int8_t>(zoom_reverse.load() != 0 ? -speed : speed);
    logAt(5, "m_zoom_dir %d, m_zoom_speed %d, m_zoom_acc %d\n", m_zoom_dir, m_zoom_speed, m_zoom_acc);
}

int ZoomServo::zoomPosRel(int delta, int speed) {
    if (!calibrated()) return 0;
    const float unit = static_cast<float>(kScale) / static_cast<float>(zoom_max.load() - zoom_min.load());
    const int offset = truncated(static_cast<float>(delta) / unit);
    std::lock_guard lock(zoom_mutex);
    if (!readyLocked()) return 0;
    const int position = servo.readPosition(kId);
    if (servo.noAnswer() != 0) {
        // Without the present position any target would be a guess.
        logAt(2, "FAILED: Relative Position, no answer from the zoom servo\n");
        return -1;
    }
    const int16_t target = static_cast<int16_t>(zoom_reverse.load() != 0 ? position - offset : position + offset);
    if (target < zoom_min.load() || target > zoom_max.load()) {
        logAt(2, "FAILED: Relative Position destination is out of zoom-servo limit area\n");
        return -1;
    }
    if (std::abs(speed) > 7) {
        logAt(2, "FAILED: Relative Position Speed Err %d\n", speed);
        return -1;
    }
    servo.WritePosEx(kId, target, kSpeeds[tableIndex(speed)], kAccelerations[tableIndex(speed)]);
    logAt(5, "Zoom-Servo Relative Pos = %d(%d), Speed %d, targetPos %d, Limit-Width %d\n", delta, position, speed,
          target, zoom_width.load());
    return 0;
}

int ZoomServo::zoomPosAbs(int position, int speed) {
    if (!calibrated()) return 0;
    const int low = zoom_min.load();
    const int high = zoom_max.load();
    if (high < low) {
        std::puts("ERR, zoomPosAbs");
        std::fflush(stdout);
        return -1;
    }
    const float unit = static_cast<float>(kScale) / static_cast<float>(high - low);
    int target = static_cast<int16_t>(truncated(static_cast<float>(position) / unit + static_cast<float>(low)));
    target = std::clamp(target, low, high);
    if (std::abs(speed) > 7) {
        logAt(2, "FAILED: Absolute Position Speed Err %d\n", speed);
        return -1;
    }
    std::lock_guard lock(zoom_mutex);
    if (!readyLocked()) return 0;
    servo.WritePosEx(kId, static_cast<int16_t>(target), kSpeeds[tableIndex(speed)], kAccelerations[tableIndex(speed)]);
    logAt(5, "Zoom-Servo Absolute Pos = %d, Speed %d, Limit-Width %d\n", target, speed, zoom_width.load());
    return 0;
}

int ZoomServo::zoomPosAbsNormalized(float position_f) {
    return zoomPosAbs(static_cast<int16_t>(truncated(position_f * static_cast<float>(kScale))), 4);
}

int ZoomServo::presentPosition() {
    std::lock_guard lock(zoom_mutex);
    int position = -1;
    // Retries help against a garbled answer. A servo that did not answer at all would make each
    // retry wait out the whole time-out, holding up the VISCA socket thread that asked.
    for (int read = 0; read < kInquiryReads && position == -1; ++read) {
        position = servo.readPosition(kId);
        if (position == -1 && servo.noAnswer() != 0) break;
    }
    return position;
}

int ZoomServo::storedZoomPosition() {
    std::lock_guard lock(zoom_mutex);
    if (!readyLocked()) return 0;
    const int position = servo.readPosition(kId);
    return std::clamp(position, static_cast<int>(zoom_min.load()), static_cast<int>(zoom_max.load()));
}

bool ZoomServo::moveTo(int position, int speedIndex) {
    std::lock_guard lock(zoom_mutex);
    if (!readyLocked()) return false;
    const size_t i = static_cast<size_t>(std::clamp(speedIndex, 0, 7));
    servo.WritePosEx(kId, static_cast<int16_t>(position), kSpeeds[i], kAccelerations[i]);
    return true;
}
