#include "control/qc_sweep.h"

namespace {
constexpr int kPanAxis = 1, kTiltAxis = 0;
}

QcSweep::Step QcSweep::next() {
    switch (current) {
        case kStopped: current = kPanSweep; return {DebugCommand::kStop, {}, kStopPause};
        case kPanSweep: return panStep();
        default: return tiltStep();
    }
}

QcSweep::Step QcSweep::panStep() {
    angle += step;
    if (angle > kPanLimit) {
        angle = kPanLimit;
        step = -kPanStep;
        return move(kPanAxis, angle);
    }
    if (angle < -kPanLimit) {
        const Step last = move(kPanAxis, -kPanLimit);
        step = kTiltStep;
        current = kTiltSweep;
        angle = -kTiltLimit;
        return last;
    }
    return move(kPanAxis, angle);
}

QcSweep::Step QcSweep::tiltStep() {
    angle += step;
    if (angle > kTiltLimit) {
        angle = kTiltLimit;
        step = -kTiltStep;
        return move(kTiltAxis, angle);
    }
    if (angle < -kTiltLimit) {
        const Step last = move(kTiltAxis, -kTiltLimit);
        current = kStopped;
        step = kPanStep;
        angle = -kPanLimit;
        return last;
    }
    return move(kTiltAxis, angle);
}
