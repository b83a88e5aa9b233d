// Stepper: the start-up switch escape, the homing thread and one homing step per axis.
#include <cstdio>

#include "base/log.h"
#include "hw/hardware.h"
#include "motion/stepper.h"
#include "platform/thread_name.h"

using namespace tmc5041;
using namespace std::chrono_literals;

namespace {
constexpr int32_t kTiltTravel = 800000;
constexpr int32_t kTiltUp = 493614;
constexpr int32_t kTiltHome = kTiltUp - 179193;

int32_t escapeDelta(uint32_t status) {
    return (status & ramp_stat::status_stop_l) ? Stepper::kEscapeDistance : -Stepper::kEscapeDistance;
}

void report(const char* format, int a, int b) {
    std::printf(format, a, b);
    std::fflush(stdout);
}

void say(const char* line) {
    std::puts(line);
    std::fflush(stdout);
}
}  // namespace

bool Stepper::limitExit() {
    writeAllRegisters(startupValues());
    stop(kPan);
    stop(kTilt);
    pause(1s);
    if (limit_check == 0) return true;
    const uint32_t tilt = readRampStatus(kTilt);
    const uint32_t pan = readRampStatus(kPan);
    if ((tilt & ramp_stat::kSwitchInputs) == 0 && (pan & ramp_stat::kSwitchInputs) == 0) return true;
    limit_check = 0;
    std::printf("LIMIT STATUS TILT: %X\n", tilt);
    std::printf("LIMIT STATUS PAN : %X\n", pan);
    std::fflush(stdout);
    if ((tilt & ramp_stat::kSwitchInputs) && (pan & ramp_stat::kSwitchInputs))
        escapeBoth(tilt, pan);
    else if (tilt & ramp_stat::kSwitchInputs)
        escapeTilt(tilt);
    else
        escapePan(pan);
    return true;
}

void Stepper::escapeOldTilt(const char* message) {
    setSwitchMode(kTilt, kSwitchStopsOff);
    moveRelative(kTilt, -kEscapeDistance, kTiltHomingSpeed);
    say(message);
    pause(3s);
    setSwitchMode(kTilt, kSwitchStopsOn);
}

bool Stepper::waitEscape(int32_t tiltGoal, bool waitTilt, int32_t panGoal, bool waitPan) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!pause(1s)) return false;
        const bool tiltDone = !waitTilt || readPosition(kTilt) == tiltGoal;
        const bool panDone = !waitPan || readPosition(kPan) == panGoal;
        if (tiltDone && panDone) return true;
    }
    return false;
}

void Stepper::escapeBoth(uint32_t tilt, uint32_t pan) {
    stop(kPan);
    stop(kTilt);
    for (int motor : {kTilt, kPan}) report("1#%d TMCR_XACTUAL %d\n", motor, readPosition(motor));
    const bool oldWiring = (tilt & ramp_stat::kSwitchInputs) == ramp_stat::kSwitchInputs;
    int32_t tiltGoal = 0;
    if (oldWiring) {
        escapeOldTilt("\n#1 Tilt is limit exit!!");
    } else {
        tiltGoal = readPosition(kTilt) + escapeDelta(tilt);
        moveAbsolute(kTilt, tiltGoal, kTiltHomingSpeed);
    }
    const int32_t panGoal = readPosition(kPan) + escapeDelta(pan);
    moveAbsolute(kPan, panGoal, panHomingSpeed());
    if (!waitEscape(tiltGoal, !oldWiring, panGoal, true)) return;
    for (int motor : {kPan, kTilt}) report("2#%d TMCR_XACTUAL %d\n", motor, readPosition(motor));
    limit_check = 1;
}

void Stepper::escapeTilt(uint32_t tilt) {
    if ((tilt & ramp_stat::kSwitchInputs) == ramp_stat::kSwitchInputs) {
        escapeOldTilt("\n#2 Tilt is limit exit!!");
        limit_check = 1;
        return;
    }
    stop(kTilt);
    report("3#%d TMCR_XACTUAL %d\n", kTilt, readPosition(kTilt));
    const int32_t goal = readPosition(kTilt) + escapeDelta(tilt);
    moveAbsolute(kTilt, goal, kTiltHomingSpeed);
    if (!waitEscape(goal, true, 0, false)) return;
    report("4#%d TMCR_XACTUAL %d\n", kTilt, readPosition(kTilt));
    limit_check = 1;
}

void Stepper::escapePan(uint32_t pan) {
    stop(kPan);
    report("5#%d TMCR_XACTUAL %d\n", kPan, readPosition(kPan));
    const int32_t goal = readPosition(kPan) + escapeDelta(pan);
    moveAbsolute(kPan, goal, panHomingSpeed());
    if (!waitEscape(0, false, goal, true)) return;
    report("6#%d TMCR_XACTUAL %d\n", kPan, readPosition(kPan));
    limit_check = 1;
}

void Stepper::slowRamps(int motor) {
    writeRegister(reg(motor, A1), 100);
    writeRegister(reg(motor, V1), kMoveV1);
    writeRegister(reg(motor, AMAX), kMoveAmax);
    writeRegister(reg(motor, DMAX), 3000);
    writeRegister(reg(motor, D1), 500);
}

void Stepper::fixedLimits() {
    pan_left = -4000000;
    pan_right = 4000000;
    tilt_up = 500000;
    tilt_down = -500000;
    pan_center = readPosition(kPan);
    tilt_center = readPosition(kTilt);
    setSwitchMode(kPan, kSwitchStopsOff);
    setSwitchMode(kTilt, kSwitchStopsOff);
    slowRamps(kTilt);
    slowRamps(kPan);
    limit_state = 0;  // published once the limits it stands for are in place
    if (!stop_flag) startControlThread();
}

void Stepper::limitStart() {
    set_thread_name("homePTZ");
    if (limit_check == 0) {
        fixedLimits();
        return;
    }
    logAt(5, "Pan & Tilt Limit start\n");
    writeRegister(reg(kTilt, IHOLD_IRUN), kTiltCurrentMoving);
    moveAbsolute(kPan, pan_search_neg, panHomingSpeed());
    moveAbsolute(kTilt, kTiltTravel, kTiltHomingSpeed);
    bool panDone = false, tiltDone = false;
    while (!(panDone && tiltDone)) {
        if (!waitMotionEvent()) {
            stop(kPan);
            stop(kTilt);
            return;
        }
        tilt_ramp_stat = readRampStatus(kTilt);
        pan_ramp_stat = readRampStatus(kPan);
        if (!panDone && (panDone = homeAxisStep(kPan))) logAt(5, "Pan finished\n");
        if (!tiltDone && (tiltDone = homeAxisStep(kTilt))) logAt(5, "Tilt finished\n");
    }
    hw->disable_irq(kMotionIrq);
    if (search_given_up) {
        limit_state = 0;  // the limits found stand, the switch stops stay armed
    } else {
        limit_state = 1;
        say("Successfully initialized");
    }
    if (stop_flag) return;
    writeRegister(reg(kTilt, IHOLD_IRUN), kTiltCurrentDefault);
    startControlThread();
}

bool Stepper::homeAxisStep(int axis) {
    const bool pan = axis == kPan;
    const uint32_t status = pan ? pan_ramp_stat.load() : tilt_ramp_stat.load();
    logAt(5, "#%d RAMP_STAT %X\n", axis, status);
    const int32_t low = pan ? pan_left.load() : tilt_down.load();
    const int32_t high = pan ? pan_right.load() : tilt_up.load();
    if (low != 0 && high != 0) {
        if (readPosition(axis) != (pan ? pan_center.load() : tilt_center.load())) return false;
        slowRamps(axis);
        logAt(5, pan ? "PAN_MOTOR target_Position\n" : "TILT_MOTOR target_Position\n");
        return true;
    }
    if (searchEndedWithoutSwitch(axis, status)) return giveUpSearch(axis);
    if ((status & ramp_stat::kLeftHit) != ramp_stat::kLeftHit && (status & ramp_stat::kRightHit) != ramp_stat::kRightHit)
        return false;
    return pan ? homePan(status) : homeTilt();
}

// Each search move spans the axis's whole travel at homing speed: reaching its end with no
// switch means the switch is broken, and driving on would only push against the hard end.
bool Stepper::searchEndedWithoutSwitch(int axis, uint32_t status) const {
    (void)axis;
    return (status & ramp_stat::position_reached) != 0 && (status & ramp_stat::kSwitchActivity) == 0;
}

// Limits around where the axis stands: the end it searched for is here, the rest of the
// travel lies the other way. The switches stay armed, so a working one still stops the head.
bool Stepper::giveUpSearch(int axis) {
    stop(axis);
    search_given_up = true;
    const int32_t here = readPosition(axis);
    if (axis == kPan) {
        if (pan_left == 0) {
            pan_left = here;
            pan_right = here + pan_search_pos;
        } else {
            pan_right = here;
        }
        pan_center = pan_left + (pan_right - pan_left) / 2;
        logAt(2, "Pan homing: no %s switch within %d microsteps, limits fixed at %d..%d\n",
              here == pan_left.load() ? "left" : "right", pan_search_pos, pan_left.load(), pan_right.load());
    } else {
        tilt_up = here;
        tilt_down = here - kTiltUp;
        tilt_center = here - (kTiltUp - kTiltHome);
        logAt(2, "Tilt homing: no switch within %d microsteps, limits fixed at %d..%d\n", kTiltTravel,
              tilt_down.load(), tilt_up.load());
    }
    slowRamps(axis);
    return true;
}

void Stepper::pollSwitchesClear(int motor) {
    // Back to back at bus rate, as the camera does.
    while (!stop_flag && (readRampStatus(motor) & ramp_stat::kSwitchInputs) != 0) {
    }
}

bool Stepper::homePan(uint32_t) {
    if (readPosition(kPan) < 0) {
        writeRegister(reg(kPan, XACTUAL), 1);
        pan_left = 1;
    } else {
        uint32_t latched = 0;
        readRegister(reg(kPan, XLATCH), latched);
        pan_right = latched == 0 ? -1 : static_cast<int32_t>(latched);
    }
    if (pan_left == 0 || pan_right == 0) {
        stop(kPan);
        moveAbsolute(kPan, pan_left == 0 ? pan_search_neg : pan_search_pos, panHomingSpeed());
        pollSwitchesClear(kPan);
        return false;
    }
    pan_center = (pan_right + pan_left - 53126) / 2;
    std::printf("Left_SwitchLimit %d, Right_SwitchLimit %d, center %d\n", pan_left.load(), pan_right.load(),
                pan_center.load());
    std::fflush(stdout);
    stop(kPan);
    moveAbsolute(kPan, pan_center, panHomingSpeed());
    pollSwitchesClear(kPan);
    return false;
}

bool Stepper::homeTilt() {
    if (!pause(100ms)) return false;
    tilt_ramp_stat = readRampStatus(kTilt);
    const uint32_t inputs = tilt_ramp_stat & ramp_stat::kSwitchInputs;
    const bool oldWiring = inputs != ramp_stat::status_stop_l && inputs != ramp_stat::status_stop_r;
    if (inputs == ramp_stat::kSwitchInputs)
        say("wait! Old kOVA H/W");
    else if (inputs != 0) {
        std::printf("wait! New kOVA H/W 0x%0X\n", tilt_ramp_stat.load());
        std::fflush(stdout);
    } else
        say("wait! unkown kOVA");
    if (!pause(3s)) return false;
    tilt_down = 1;
    tilt_up = kTiltUp;
    writeRegister(reg(kTilt, XACTUAL), kTiltUp);
    tilt_center = kTiltHome;
    std::printf("Left_SwitchLimit %d, Right_SwitchLimit %d, center %d\n", tilt_down.load(), tilt_up.load(),
                tilt_center.load());
    std::fflush(stdout);
    stop(kTilt);
    if (oldWiring) setSwitchMode(kTilt, kSwitchStopsOff);
    moveAbsolute(kTilt, kTiltHome, kTiltHomingSpeed);
    pollSwitchesClear(kTilt);
    if (oldWiring) setSwitchMode(kTilt, kSwitchStopsOn);
    return false;
}
