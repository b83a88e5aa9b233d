// Stepper: the control thread "ctrlPTZ" that keeps the head off its switches and keeps limit_state.
#include <cstdio>

#include "base/log.h"
#include "motion/stepper.h"
#include "platform/thread_name.h"

using namespace tmc5041;
using namespace std::chrono_literals;

namespace {
constexpr int kQuietPasses = 5;

void report(const char* format, uint32_t status, int32_t position) {
    std::printf(format, status, position);
    std::fflush(stdout);
}
}  // namespace

void Stepper::ctrlPTZ() {
    set_thread_name("ctrlPTZ");
    saved_limit_state = limit_state.load();
    int timeouts = 0, idleChecks = 0;
    while (!stop_flag) {
        const int event = waitMotionSlice();
        if (stop_flag) break;
        tilt_ramp_stat = readRampStatus(kTilt);
        pan_ramp_stat = readRampStatus(kPan);
        if (saved_limit_state == 1) controlEscape();
        if (event < 0) {
            controlQuietPass(timeouts, idleChecks);
        } else {
            timeouts = idleChecks = 0;
            controlEventPass();
        }
    }
}

void Stepper::controlEscape() {
    const int32_t tiltPosition = readPosition(kTilt);
    const int32_t panPosition = readPosition(kPan);
    const uint32_t pan = pan_ramp_stat, tilt = tilt_ramp_stat;
    if (pan & ramp_stat::status_stop_l) {
        moveRelative(kPan, kEscapeDistance, panHomingSpeed());
        report("ERR, GOTO LEFT LIMIT SAFE AREA ( %X %d )\n", pan, panPosition);
    } else if (pan & ramp_stat::status_stop_r) {
        moveRelative(kPan, -kEscapeDistance, panHomingSpeed());
        report("ERR, GOTO LEFT RIGHT SAFE AREA ( %X %d )\n", pan, panPosition);
    }
    if ((tilt & ramp_stat::kSwitchInputs) == ramp_stat::kSwitchInputs) {
        controlTiltBoth(tilt, tiltPosition);
    } else if (tilt & ramp_stat::status_stop_l) {
        moveRelative(kTilt, kEscapeDistance, panHomingSpeed());
        report("NEW, ERR, GOTO TILT-DOWN LIMIT SAFE AREA ( %X %d )\n", tilt, tiltPosition);
    } else if (tilt & ramp_stat::status_stop_r) {
        moveRelative(kTilt, -kEscapeDistance, panHomingSpeed());
        report("NEW, ERR, GOTO TILT-UP LIMIT SAFE AREA ( %X %d )\n", tilt, tiltPosition);
    }
}

void Stepper::controlTiltBoth(uint32_t status, int32_t position) {
    const int32_t up = tilt_up, down = tilt_down;
    if (down < position && position < up) {
        report("\n#1 ERR, GOTO LIMIT SAFE AREA ( %X %d )\n", status, position);
        std::printf("#2 ERR, TILT-UP LIMIT: %d, TILT-DOWN LIMIT: %d\n\n", up, down);
        std::fflush(stdout);
        return;
    }
    const bool atTop = position >= up;
    setSwitchMode(kTilt, kSwitchStopsOff);
    moveAbsolute(kTilt, atTop ? up - kEscapeDistance : down + kEscapeDistance, kTiltHomingSpeed);
    report(atTop ? "ERR, GOTO UP RIGHT SAFE AREA ( %X %d )\n" : "ERR, GOTO DOWN LIMIT SAFE AREA ( %X %d )\n", status,
           position);
    pause(3s);
    setSwitchMode(kTilt, kSwitchStopsOn);
}

void Stepper::controlQuietPass(int& timeouts, int& idleChecks) {
    if (++timeouts < kQuietPasses) return;
    uint32_t current = 0;
    readRegister(reg(kTilt, IHOLD_IRUN), current);
    if ((tilt_ramp_stat & ramp_stat::vzero) == 0 || current == kTiltCurrentDefault) {
        timeouts = idleChecks = 0;
        return;
    }
    timeouts = 0;
    if (++idleChecks < kQuietPasses) return;
    idleChecks = 0;
    writeRegister(reg(kTilt, IHOLD_IRUN), kTiltCurrentDefault);
    logAt(5, "DEFAULT TILT_IHOLD_IRUN\n");
}

void Stepper::controlEventPass() {
    if (((tilt_ramp_stat | pan_ramp_stat) & ramp_stat::kSwitchActivity) == 0) {
        limit_state = saved_limit_state.load();
    } else if (limit_state != -2) {
        saved_limit_state = limit_state.load();
        limit_state = -2;
    }
    reportReached(kTilt, tilt_ramp_stat);
    reportReached(kPan, pan_ramp_stat);
}

void Stepper::reportReached(int motor, uint32_t status) {
    const char tag = motor == kTilt ? 'T' : 'P';
    if (status & ramp_stat::event_pos_reached) {
        logAt(5, "#%c ramp_status 0x%X\n", tag, status);
        logAt(5, "#%c reached\n", tag);
        uint32_t target = 0, position = 0;
        readRegister(reg(motor, XTARGET), target);
        readRegister(reg(motor, XACTUAL), position);
        logAt(5, "#%c XTARGET %X\n", tag, target);
        logAt(5, "#%c XACTUAL %X\n", tag, position);
    } else if (status & ramp_stat::event_stop_sg) {
        logAt(5, "#%c Stall detected\n", tag);
        logAt(5, "#%c ramp_status 0x%X\n", tag, status);
    }
}
