// Turns one VISCA payload into at most one PtzCommand for the command ring.
#pragma once

#include <cstdint>
#include <span>

#include "control/ptz_command.h"
#include "control/visca_target.h"

class ViscaDecoder {
public:
    // Results; an inquiry decodes to its kind (visca_inquiry_kind.h) instead.
    static constexpr int kRejected = 0;
    static constexpr int kSyntaxError = 2;
    static constexpr int kExecuted = 28;

    // Margin a position destination must keep inside the homed limits, and the one logged.
    static constexpr int32_t kPositionMargin = 8277;
    static constexpr int32_t kLoggedMargin = 8533;

    explicit ViscaDecoder(ViscaTarget& target) : target(target) {}

    // payload: address byte through the closing 0xFF; source 1 network, 2 bridge.
    int decode(std::span<const uint8_t> payload, int source);

private:
    // What a form decoded to: the result, and whether the record goes into the ring.
    struct Outcome {
        int result;
        bool push;
        PtzCommand command;
    };
    using Payload = std::span<const uint8_t>;

    static Outcome queue(int32_t code, float arg1 = 0, float arg2 = 0) { return {kExecuted, true, {code, arg1, arg2}}; }
    static Outcome done() { return {kExecuted, true, {}}; }
    static Outcome unknown() { return {kRejected, true, {}}; }
    static Outcome reject() { return {kRejected, false, {}}; }

    Outcome decodeCommand(Payload p);
    Outcome panTilt(Payload p);
    Outcome drive(Payload p, bool free);
    Outcome position(Payload p);
    Outcome camera(Payload p);
    Outcome zoomDrive(uint8_t value);
    Outcome focusDrive(uint8_t value);
    Outcome exposure(Payload p);
    Outcome memory(Payload p);
    Outcome vendor(Payload p);
    Outcome extension(Payload p);
    Outcome zoomServo(Payload p);
    Outcome zoomRestart();
    void logLimits(const HeadLimits& limits) const;

    ViscaTarget& target;
};
