// The camera head behind the motion controller: pan with left and right reference
// switches, tilt with one switch met moving up, hard mechanical ends past each switch.
#pragma once

#include <array>
#include <cstdint>

namespace sim {

struct HeadGeometry {
    // Switch positions in microsteps from the power-on position (PTZSIM_PAN_SWITCHES, PTZSIM_TILT_SWITCH).
    int32_t panLeft = -250000;
    int32_t panRight = 350000;
    int32_t tiltUp = 200000;
    bool oldTiltWiring = false;  // PTZSIM_TILT_WIRING=old: the tilt switch drives both inputs
    int32_t endMargin = 80000;   // hard end this far past each switch
    int32_t tiltBelow = 600000;  // tilt travel below its switch
    // PTZSIM_BROKEN_SWITCH: a switch that never closes (its wire cut).
    enum class Broken { none, panLeft, panRight, tilt } broken = Broken::none;
};

class HeadMechanics {
public:
    static constexpr int kTilt = 0;
    static constexpr int kPan = 1;
    // Positions are kept in 2^-23 microsteps, the resolution of the ramp generator.
    static constexpr int kFineShift = 23;
    static constexpr double kMicrostepsPerDegree = 8533.0;

    struct Inputs {
        bool left = false;   // switch closed at REFL
        bool right = false;  // switch closed at REFR
    };

    explicit HeadMechanics(const HeadGeometry& geometry);

    // Moves an axis; a hard end stops it there (the motor then loses steps). Returns the distance moved.
    int64_t move(int axis, int64_t delta);
    Inputs inputs(int axis) const;
    // How far the axis can move in a direction (+1/-1) with no input change and no hard end.
    int64_t room(int axis, int direction) const;

    double microsteps(int axis) const;
    double degrees(int axis) const { return microsteps(axis) / kMicrostepsPerDegree; }
    // Back door: puts an axis at a position (in microsteps), clamped to its hard ends.
    void place(int axis, int32_t microsteps);
    const HeadGeometry& geometry() const { return shape; }

private:
    struct Axis {
        int64_t position = 0;
        int64_t low = 0, high = 0;
        // Inputs change between threshold t and t + 1.
        std::array<int64_t, 2> thresholds{};
        int thresholdCount = 0;
    };

    HeadGeometry shape;
    std::array<Axis, 2> axes;
};

}  // namespace sim
