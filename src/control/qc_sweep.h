// QcSweep: the burn-in exercise's positions: pan from -175 to +175 degrees and back in steps of
// 10, tilt from -20 to +20 and back in steps of 3, then a stop and a pause, for ever.
#pragma once

#include <chrono>

#include "control/debug_command.h"

class QcSweep {
public:
    enum Stage { kStopped = 0, kPanSweep = 1, kTiltSweep = 2 };
    static constexpr int kPanLimit = 175, kPanStep = 10;
    static constexpr int kTiltLimit = 20, kTiltStep = 3;
    static constexpr std::chrono::milliseconds kStopPause{2000};

    // One engineering command and the pause that follows it.
    struct Step {
        unsigned code = DebugCommand::kStop;
        DebugArgs args;
        std::chrono::milliseconds pause{0};
    };

    Step next();
    Stage stage() const { return current; }

private:
    Step panStep();
    Step tiltStep();
    static Step move(int axis, int angle) { return {DebugCommand::kAbsoluteDegrees, {axis, angle}, {}}; }

    Stage current = kStopped;
    int step = kPanStep;
    int angle = -kPanLimit;
};
