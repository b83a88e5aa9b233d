// debugCommand: the engineering commands that drive the motors, the degree register and the zoom
// servo directly, outside the command ring, for the console and the QC sweep.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

class Stepper;
class hardware;

struct DebugArgs {
    int32_t a = 0;
    int32_t b = 0;
};

class DebugCommand {
public:
    static constexpr unsigned kHome = 0;
    static constexpr unsigned kLeft = 1, kRight = 2, kUp = 3, kDown = 4;
    static constexpr unsigned kTiltBy = 16, kPanBy = 17;
    static constexpr unsigned kSwitchesOn = 18, kSwitchesOff = 19;
    static constexpr unsigned kDegreeCentre = 20, kDegree90 = 21, kDegree150 = 22, kDegree350 = 23;
    static constexpr unsigned kRampStatus = 24, kPositions = 25;
    static constexpr unsigned kAbsoluteDegrees = 26, kRelativeDegrees = 27;
    static constexpr unsigned kStop = 153, kServoRead = 155, kServoWrite = 156;
    static constexpr int32_t kDegree = 8533;  // microsteps

    // Replies go to `out`.
    DebugCommand(Stepper& stepper, std::shared_ptr<hardware> hw, FILE* out = stdout);

    void run(unsigned code, DebugArgs args = {});

private:
    void home();
    void toLock(unsigned code);
    void moveBy(int motor, int32_t steps);
    void switchesAll(bool enabled);
    void degreeMode(unsigned code);
    void rampStatus();
    void positions();
    void moveByDegrees(bool absolute, DebugArgs args);
    void moveAbsoluteDegrees(int motor, int32_t degrees, int32_t offset);
    void stopBoth();
    void servoRead(DebugArgs args);
    void servoWrite(DebugArgs args);
    void other();
    int32_t actual(int motor);
    void pause(int milliseconds);

    Stepper& stepper;
    std::shared_ptr<hardware> hw;
    FILE* out;
};
