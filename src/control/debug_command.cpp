#include "control/debug_command.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "hw/hardware.h"
#include "motion/stepper.h"

using namespace tmc5041;

namespace {
constexpr uint32_t kStopsOff = kSwitchStopsOff;
constexpr uint32_t kStopsOn = kSwitchStopsOn;
static_assert(kStopsOff == 2220 && kStopsOn == 2223);
constexpr uint32_t kDegreeBlock = 1024, kDegreeRegister = 2;
constexpr int kPanSpeedIndex = 20, kTiltSpeedIndex = 16, kDegreeSpeedIndex = 23;
constexpr uint8_t kServoId = 1;

int32_t saturated(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// Degrees to microsteps with the low 8 bits cleared (whole VISCA position units).
int32_t degreeOffset(int32_t degrees) {
    return saturated(static_cast<int64_t>(degrees) * DebugCommand::kDegree) & ~int32_t{0xFF};
}

// Registers the servo takes as one byte, and as two (low byte first).
bool byteRegister(int address) {
    static constexpr int kBytes[] = {8, 26, 27, 30, 33, 40, 41, 55, 62, 63, 66};
    return std::find(std::begin(kBytes), std::end(kBytes), address) != std::end(kBytes);
}

bool wordRegister(int address) {
    return (address >= 9 && address <= 12) || address == 32 || (address >= 42 && address <= 49) ||
           (address >= 56 && address <= 61) || (address >= 67 && address <= 70);
}

// Sign-magnitude with the sign at `signBit`, the magnitude cut to the bits below it.
uint16_t signMagnitude(int32_t value, int signBit) {
    if (value >= 0) return static_cast<uint16_t>(value);
    const uint32_t magnitude = static_cast<uint32_t>(-static_cast<int64_t>(value)) & ((1u << signBit) - 1);
    return static_cast<uint16_t>(magnitude | (1u << signBit));
}
}  // namespace

DebugCommand::DebugCommand(Stepper& stepper_, std::shared_ptr<hardware> hw_, FILE* out_)
    : stepper(stepper_), hw(std::move(hw_)), out(out_) {}

void DebugCommand::run(unsigned code, DebugArgs args) {
    switch (code) {
        case kHome: home(); break;
        case kLeft:
        case kRight:
        case kUp:
        case kDown: toLock(code); break;
        case kTiltBy:
            std::fprintf(out, "TILT Move By %d position\n", args.a);
            moveBy(Stepper::kTilt, args.a);
            break;
        case kPanBy:
            std::fprintf(out, "PAN Move By %d position\n", args.a);
            moveBy(Stepper::kPan, args.a);
            break;
        case kSwitchesOn: switchesAll(true); break;
        case kSwitchesOff: switchesAll(false); break;
        case kDegreeCentre:
        case kDegree90:
        case kDegree150:
        case kDegree350: degreeMode(code); break;
        case kRampStatus: rampStatus(); break;
        case kPositions: positions(); break;
        case kAbsoluteDegrees: moveByDegrees(true, args); break;
        case kRelativeDegrees: moveByDegrees(false, args); break;
        case kStop: stopBoth(); break;
        case kServoRead: servoRead(args); break;
        case kServoWrite: servoWrite(args); break;
        default: other(); break;
    }
    std::fflush(out);
}

void DebugCommand::home() {
    std::fputs("Go to HOME position\n", out);
    stepper.stop(Stepper::kPan);
    stepper.stop(Stepper::kTilt);
    stepper.setSwitchMode(Stepper::kPan, kStopsOff);
    stepper.setSwitchMode(Stepper::kTilt, kStopsOff);
    stepper.moveAbsolute(Stepper::kPan, stepper.pan_center.load(), stepper.speedFromIndex(Stepper::kPan, kPanSpeedIndex));
    stepper.moveAbsolute(Stepper::kTilt, stepper.tilt_center.load(),
                         stepper.speedFromIndex(Stepper::kTilt, kTiltSpeedIndex));
    pause(1000);
    stepper.setSwitchMode(Stepper::kPan, kStopsOn);
    stepper.setSwitchMode(Stepper::kTilt, kStopsOn);
}

// One degree inside the homed limit, with the switch stops armed.
void DebugCommand::toLock(unsigned code) {
    const bool pan = code == kLeft || code == kRight;
    const int motor = pan ? Stepper::kPan : Stepper::kTilt;
    int32_t target = 0;
    switch (code) {
        case kLeft: target = stepper.pan_left.load() + kDegree; std::fputs("Go to LEFT lock position\n", out); break;
        case kRight: target = stepper.pan_right.load() - kDegree; std::fputs("Go to RIGHT lock position\n", out); break;
        case kUp: target = stepper.tilt_up.load() - kDegree; std::fputs("Go to UP lock position\n", out); break;
        default: target = stepper.tilt_down.load() + kDegree; std::fputs("Go to DOWN lock position\n", out); break;
    }
    stepper.stop(motor);
    stepper.setSwitchMode(motor, kStopsOn);
    stepper.moveAbsolute(motor, target, stepper.speedFromIndex(motor, pan ? kPanSpeedIndex : kTiltSpeedIndex));
}

void DebugCommand::moveBy(int motor, int32_t steps) {
    stepper.stop(motor);
    stepper.setSwitchMode(motor, kStopsOff);
    const int index = motor == Stepper::kPan ? kPanSpeedIndex : kTiltSpeedIndex;
    stepper.moveRelative(motor, steps, stepper.speedFromIndex(motor, index));
}

void DebugCommand::switchesAll(bool enabled) {
    stepper.setSwitchMode(Stepper::kPan, enabled ? kStopsOn : kStopsOff);
    stepper.setSwitchMode(Stepper::kTilt, enabled ? kStopsOn : kStopsOff);
    std::fputs(enabled ? "SWMODE All Enable\n" : "SWMODE All Disable\n", out);
}

void DebugCommand::degreeMode(unsigned code) {
    static constexpr uint32_t kCodes[] = {1, 2, 4, 0};
    static constexpr const char* kNames[] = {"DEGREE Center", "DEGREE 90", "DEGREE 150", "DEGREE 350"};
    const unsigned i = code - kDegreeCentre;
    hw->write32(kDegreeBlock, kDegreeRegister, kCodes[i]);
    std::fprintf(out, "%s\n", kNames[i]);
}

void DebugCommand::rampStatus() {
    uint32_t tilt = 0, pan = 0;
    stepper.readRegister(reg(Stepper::kTilt, RAMP_STAT), tilt);
    stepper.readRegister(reg(Stepper::kPan, RAMP_STAT), pan);
    std::fprintf(out, "TILT RAMP_STATUS 0x%X\n", tilt);
    std::fprintf(out, "PAN  RAMP_STATUS 0x%X\n", pan);
}

int32_t DebugCommand::actual(int motor) {
    uint32_t value = 0;
    stepper.readRegister(reg(motor, XACTUAL), value);
    return static_cast<int32_t>(value);
}

void DebugCommand::positions() {
    std::fprintf(out, "TILT TMCR_XACTUAL %d\n", actual(Stepper::kTilt));
    std::fprintf(out, "PAN  TMCR_XACTUAL %d\n", actual(Stepper::kPan));
}

void DebugCommand::moveByDegrees(bool absolute, DebugArgs args) {
    const int32_t tilt = actual(Stepper::kTilt), pan = actual(Stepper::kPan);
    std::fprintf(out, "TILT HOME %d\n", stepper.tilt_center.load());
    std::fprintf(out, "PAN HOME %d\n", stepper.pan_center.load());
    std::fprintf(out, "TILT TMCR_XACTUAL %d\n", tilt);
    std::fprintf(out, "PAN  TMCR_XACTUAL %d\n", pan);
    stepper.stop(Stepper::kPan);
    stepper.setSwitchMode(Stepper::kPan, kStopsOn);
    for (int d = 0; d <= 175; d += 5) {
        const int v = (d / 5 * 42665) >> 8;
        std::fprintf(out, "%03d-Degree : Right(%04X) / LEFT(%04X)\n", d, v, static_cast<uint16_t>(-v));
    }
    const int32_t offset = degreeOffset(args.b);
    const int motor = args.a == 1 ? Stepper::kPan : Stepper::kTilt;
    if (absolute) return moveAbsoluteDegrees(motor, args.b, offset);
    const int32_t target = saturated(static_cast<int64_t>(motor == Stepper::kPan ? pan : tilt) + offset);
    std::fprintf(out, motor == Stepper::kPan ? "Go to RELATIVE PAN  Pos %d (Degree %d : %d)\n"
                                             : "Go to RELATIVE TILT Pos %d (Degree %d : %d)\n",
                 target, args.b, offset);
    stepper.moveAbsolute(motor, target, stepper.speedFromIndex(motor, kDegreeSpeedIndex));
}

void DebugCommand::moveAbsoluteDegrees(int motor, int32_t degrees, int32_t offset) {
    const bool pan = motor == Stepper::kPan;
    const int64_t target = static_cast<int64_t>(pan ? stepper.pan_center.load() : stepper.tilt_center.load()) + offset;
    const int64_t low = static_cast<int64_t>(pan ? stepper.pan_left.load() : stepper.tilt_down.load()) + kDegree;
    const int64_t high = static_cast<int64_t>(pan ? stepper.pan_right.load() : stepper.tilt_up.load()) - kDegree;
    std::fprintf(out, pan ? "Go to ABSOLUTE PAN  Pos %d (Degree %d : %d)\n" : "Go to ABSOLUTE TILT Pos %d (Degree %d : %d)\n",
                 saturated(target), degrees, offset);
    if (target < low || target > high) {
        std::fputs(pan ? "Error, ABSOLUTE PAN Pos Limit Range Over!\r" : "Error, ABSOLUTE TILT Pos Limit Range Over!\r", out);
        return;
    }
    stepper.moveAbsolute(motor, static_cast<int32_t>(target), stepper.speedFromIndex(motor, kDegreeSpeedIndex));
}

void DebugCommand::stopBoth() {
    stepper.stop(Stepper::kPan);
    stepper.stop(Stepper::kTilt);
    std::fputs("\n\n##MOTOR STOP\n", out);
}

// Under the zoom lock: the zoom thread's exchanges and these must not interleave on the bus.
void DebugCommand::servoRead(DebugArgs args) {
    ZoomServo& zoom = stepper.zoom();
    std::lock_guard lock(zoom.zoom_mutex);
    SMS_STS& servo = zoom.servo;
    if (args.a == 1 || args.a == 2) {
        const auto address = static_cast<uint8_t>(args.b);
        const int value = args.a == 1 ? servo.readByteChecked(kServoId, address) : servo.readWordChecked(kServoId, address);
        std::fprintf(out, "ZoomServo Read addr : %d, var %d\n", args.b, value);
    }
    if (servo.ping(kServoId) == -1) return;
    const int target = servo.readTarget(kServoId);
    const int position = servo.readPosition(kServoId);
    const int speed = servo.readSpeed(kServoId);
    const int load = servo.readLoad(kServoId);
    const int moving = servo.readMoving(kServoId);
    const int offset = servo.readOffset(kServoId);
    std::fprintf(out, "PosOffset = %d targetPos = %d pos = %d Speed = %d Load = %d Move = %d \n", offset, target,
                 position, speed, load, moving);
}

void DebugCommand::servoWrite(DebugArgs args) {
    std::fprintf(out, "ZoomServo addr : %d, var %d\n", args.a, args.b);
    const int address = args.a;
    uint16_t value = 0;
    int bytes = 0;
    if (address == SMS_STS::kOffset) {
        value = signMagnitude(args.b, 11);
        bytes = 2;
    } else {
        value = signMagnitude(args.b, 15);
        bytes = byteRegister(address) ? 1 : (wordRegister(address) ? 2 : 0);
    }
    if (bytes == 0) return;
    const uint8_t data[2] = {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)};
    ZoomServo& zoom = stepper.zoom();
    std::lock_guard lock(zoom.zoom_mutex);
    zoom.servo.writeRegisters(kServoId, static_cast<uint8_t>(address), data, static_cast<uint8_t>(bytes));
}

void DebugCommand::other() {
    stepper.setSwitchMode(Stepper::kTilt, kStopsOn);
    std::fprintf(out, "#%d TMCR_XACTUAL %d\n", Stepper::kTilt, actual(Stepper::kTilt));
    std::fprintf(out, "#%d TMCR_XACTUAL %d\n", Stepper::kPan, actual(Stepper::kPan));
}

void DebugCommand::pause(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
