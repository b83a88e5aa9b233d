#include "sim/motion/head_mechanics.h"

#include <algorithm>
#include <limits>

namespace sim {

namespace {
int64_t fine(int64_t microsteps) { return microsteps * (int64_t{1} << HeadMechanics::kFineShift); }
}  // namespace

HeadMechanics::HeadMechanics(const HeadGeometry& geometry) : shape(geometry) {
    Axis& pan = axes[kPan];
    pan.low = fine(shape.panLeft - shape.endMargin);
    pan.high = fine(shape.panRight + shape.endMargin);
    pan.thresholds = {fine(shape.panLeft), fine(shape.panRight) - 1};
    pan.thresholdCount = 2;
    Axis& tilt = axes[kTilt];
    tilt.low = fine(std::min<int64_t>(int64_t{shape.tiltUp} - shape.tiltBelow, -shape.endMargin));
    tilt.high = fine(shape.tiltUp + shape.endMargin);
    tilt.thresholds = {fine(shape.tiltUp) - 1, 0};
    tilt.thresholdCount = 1;
}

int64_t HeadMechanics::move(int axis, int64_t delta) {
    Axis& a = axes[static_cast<size_t>(axis)];
    const int64_t from = a.position;
    a.position = std::clamp(a.position + delta, a.low, a.high);
    return a.position - from;
}

HeadMechanics::Inputs HeadMechanics::inputs(int axis) const {
    using Broken = HeadGeometry::Broken;
    const int64_t p = axes[static_cast<size_t>(axis)].position;
    if (axis == kPan)
        return {shape.broken != Broken::panLeft && p <= fine(shape.panLeft),
                shape.broken != Broken::panRight && p >= fine(shape.panRight)};
    const bool closed = shape.broken != Broken::tilt && p >= fine(shape.tiltUp);
    return {shape.oldTiltWiring && closed, closed};
}

int64_t HeadMechanics::room(int axis, int direction) const {
    const Axis& a = axes[static_cast<size_t>(axis)];
    int64_t best = direction > 0 ? a.high - a.position : a.position - a.low;
    for (int i = 0; i < a.thresholdCount; ++i) {
        const int64_t t = a.thresholds[static_cast<size_t>(i)];
        if (direction > 0 && t >= a.position) best = std::min(best, t - a.position);
        if (direction < 0 && t + 1 <= a.position) best = std::min(best, a.position - (t + 1));
    }
    return std::max<int64_t>(best, 0);
}

double HeadMechanics::microsteps(int axis) const {
    return static_cast<double>(axes[static_cast<size_t>(axis)].position) / static_cast<double>(int64_t{1} << kFineShift);
}

void HeadMechanics::place(int axis, int32_t microsteps) {
    Axis& a = axes[static_cast<size_t>(axis)];
    a.position = std::clamp(fine(microsteps), a.low, a.high);
}

}  // namespace sim
