#include "control/visca_decoder.h"

#include "base/log.h"
#include "control/visca_inquiry_kind.h"

namespace {
constexpr uint8_t kMaxPanTiltSpeed = 0x18;
constexpr int kPresets = 10;

bool form(std::span<const uint8_t> p, size_t length) { return p.size() == length && p[length - 1] == 0xFF; }

// Four low nibbles, most significant first, as a two's complement 16-bit value.
int16_t signedNibbles(std::span<const uint8_t> p, size_t at) {
    const unsigned value = (p[at] & 0xFu) << 12 | (p[at + 1] & 0xFu) << 8 | (p[at + 2] & 0xFu) << 4 | (p[at + 3] & 0xFu);
    return static_cast<int16_t>(value);
}

int32_t driveCode(uint8_t pan, uint8_t tilt) {
    switch (pan << 8 | tilt) {
        case 0x0301: return VISCA_PTZ_UP;
        case 0x0302: return VISCA_PTZ_DOWN;
        case 0x0103: return VISCA_PTZ_LEFT;
        case 0x0203: return VISCA_PTZ_RIGHT;
        case 0x0101: return VISCA_PTZ_UPLEFT;
        case 0x0201: return VISCA_PTZ_UPRIGHT;
        case 0x0102: return VISCA_PTZ_DOWNLEFT;
        case 0x0202: return VISCA_PTZ_DOWNRIGHT;
        case 0x0303: return VISCA_PTZ_STOP;
        default: return 0;
    }
}
}  // namespace

int ViscaDecoder::decode(std::span<const uint8_t> payload, int source) {
    if (source < 1 || source > 7 || payload.empty() || payload[0] != 0x80 + source) return kRejected;
    if (payload.size() >= 2 && isInquiryMessage(payload[1])) {
        return inquiryKindOf(payload, source);  // the answer logs its name
    }
    const Outcome outcome = decodeCommand(payload);
    if (outcome.push) target.pushCommand(outcome.command);
    return outcome.result;
}

ViscaDecoder::Outcome ViscaDecoder::decodeCommand(Payload p) {
    if (p.size() < 5) return unknown();  // the shortest form is 5 bytes
    if (p[1] == 0x01 && p[2] == 0x06) return panTilt(p);
    if (p[1] == 0x01 && p[2] == 0x04) return camera(p);
    if (p[1] == 0x01 && p[2] == 0x7E) return vendor(p);
    if (p[1] == 0x11) return extension(p);
    return unknown();
}

ViscaDecoder::Outcome ViscaDecoder::panTilt(Payload p) {
    switch (p[3]) {
        case 0x01: return form(p, 9) ? drive(p, false) : unknown();
        case 0x09:
            if (form(p, 9)) return drive(p, true);
            return form(p, 15) ? position(p) : unknown();
        case 0x02:
        case 0x03: return form(p, 15) ? position(p) : unknown();
        case 0x04: return form(p, 5) ? queue(VISCA_PTZ_HOME) : unknown();
        case 0x05: return form(p, 5) ? queue(VISCA_PTZ_RESET) : unknown();
        case 0x06:
            if (!form(p, 6)) return unknown();
            if (p[4] == 0x02 || p[4] == 0x03) return queue(VISCA_PTZ_MENU);
            if (p[4] == 0x10) return queue(VISCA_PTZ_MENU_TOGGLE);
            return unknown();
        case 0x31:
            if (!form(p, 6)) return unknown();
            if (p[4] > 7) return reject();
            return queue(VISCA_PTZ_RAMP_CURVE, p[4]);
        default: return unknown();
    }
}

ViscaDecoder::Outcome ViscaDecoder::drive(Payload p, bool free) {
    const uint8_t panSpeed = p[4], tiltSpeed = p[5];
    if (panSpeed > kMaxPanTiltSpeed || tiltSpeed > kMaxPanTiltSpeed) return reject();
    int32_t code = driveCode(p[6], p[7]);
    if (code == 0) return unknown();
    const int32_t offset = free ? VISCA_PTZ_FREE_OFFSET : 0;
    if (code == VISCA_PTZ_STOP || (panSpeed == 0 && tiltSpeed == 0)) return queue(VISCA_PTZ_STOP + offset);
    return queue(code + offset, panSpeed, tiltSpeed);
}

ViscaDecoder::Outcome ViscaDecoder::position(Payload p) {
    if (target.limitState() != 1) return {kSyntaxError, false, {}};
    const uint8_t panSpeed = p[4], tiltSpeed = p[5];
    if (panSpeed > kMaxPanTiltSpeed || tiltSpeed > kMaxPanTiltSpeed) return reject();
    const bool free = p[3] == 0x09;
    const bool relative = p[3] == 0x03;
    if (panSpeed == 0 && tiltSpeed == 0) return queue(free ? VISCA_PTZ_FREE_STOP : VISCA_PTZ_STOP);

    const int16_t pan = signedNibbles(p, 6), tilt = signedNibbles(p, 10);
    int64_t panTarget = int64_t{pan} * 256, tiltTarget = int64_t{tilt} * 256;
    logAt(5, "ABS : PAN(%X, %d) / TILT(%X, %d)\n", static_cast<unsigned>(panTarget), pan,
          static_cast<unsigned>(tiltTarget), tilt);
    const HeadLimits limits = target.headLimits();
    if (relative) {
        panTarget += target.actualPosition(ViscaTarget::kPanMotor);
        tiltTarget += target.actualPosition(ViscaTarget::kTiltMotor);
        logAt(5, "Go to RELATIVE PAN  Pos %d\n", static_cast<int>(panTarget));
        logAt(5, "Go to RELATIVE TILT Pos %d\n", static_cast<int>(tiltTarget));
    } else {
        panTarget += limits.pan_center;
        tiltTarget += limits.tilt_center;
        logAt(5, "Go to ABSOLUTE PAN  Pos %d\n", static_cast<int>(panTarget));
        logAt(5, "Go to ABSOLUTE TILT Pos %d\n", static_cast<int>(tiltTarget));
    }
    target.setPositionTargets(static_cast<int32_t>(panTarget), static_cast<int32_t>(tiltTarget));

    const bool inside = int64_t{limits.tilt_down} + kPositionMargin <= tiltTarget &&
                        tiltTarget <= int64_t{limits.tilt_up} - kPositionMargin &&
                        int64_t{limits.pan_left} + kPositionMargin <= panTarget &&
                        panTarget <= int64_t{limits.pan_right} - kPositionMargin;
    Outcome outcome = queue(free ? VISCA_PTZ_FREE_POSITION : VISCA_PTZ_POSITION, panSpeed, tiltSpeed);
    if (!inside) {
        logLimits(limits);
        outcome.result = kSyntaxError;  // still queued: the motion layer clamps to its own limits
    }
    return outcome;
}

void ViscaDecoder::logLimits(const HeadLimits& l) const {
    logAt(5, "PTZ_LIMIT_OFFSET %d\n", kLoggedMargin);
    logAt(5, "up_limit    %d\t%d\n", l.tilt_up, static_cast<int>(int64_t{l.tilt_up} - kLoggedMargin));
    logAt(5, "down_limit  %d\t%d\n", l.tilt_down, static_cast<int>(int64_t{l.tilt_down} + kLoggedMargin));
    logAt(5, "right_limit %d\t%d\n", l.pan_right, static_cast<int>(int64_t{l.pan_right} - kLoggedMargin));
    logAt(5, "left_limit  %d\t%d\n", l.pan_left, static_cast<int>(int64_t{l.pan_left} + kLoggedMargin));
}

ViscaDecoder::Outcome ViscaDecoder::camera(Payload p) {
    switch (p[3]) {
        case 0x00:
            if (!form(p, 6)) return unknown();
            if (p[4] != 2 && p[4] != 3) return reject();
            return queue(VISCA_PTZ_POWER, p[4]);
        case 0x07: return form(p, 6) ? zoomDrive(p[4]) : unknown();
        case 0x47: {
            if (!form(p, 9)) return unknown();
            const int position = signedNibbles(p, 4);
            if (position < 0 || position > 16384) return reject();
            return queue(VISCA_PTZ_ZOOM_ABSOLUTE_POS, static_cast<float>(position), 0);
        }
        case 0x35:
            if (!form(p, 6)) return unknown();
            if (p[4] > 5) return reject();
            if (p[4] >= 4) return queue(VISCA_PTZ_WB_MANUAL, p[4]);
            return queue(VISCA_PTZ_WB_AUTO + p[4], p[4]);
        case 0x38:
            if (!form(p, 6)) return unknown();
            if (p[4] == 0x02 || p[4] == 0x10) return queue(VISCA_PTZ_FOCUS_AUTO);
            if (p[4] == 0x03) return queue(VISCA_PTZ_FOCUS_MANUAL);
            return unknown();
        case 0x08: return form(p, 6) ? focusDrive(p[4]) : unknown();
        case 0x48:
            if (!form(p, 9)) return unknown();
            return (p[4] <= 0x0F && p[5] <= 0x0F && p[6] <= 0x0F && p[7] <= 0x0F) ? done() : unknown();
        case 0x39:
        case 0x33:
        case 0x3A:
        case 0x0B:
        case 0x4B: return exposure(p);
        case 0x3F: return form(p, 7) ? memory(p) : unknown();
        default: return unknown();
    }
}

ViscaDecoder::Outcome ViscaDecoder::zoomDrive(uint8_t value) {
    if (value == 0x00) return queue(VISCA_PTZ_ZOOM_STOP);
    if (value == 0x02) return queue(VISCA_PTZ_ZOOM_TELE, 4);
    if (value == 0x03) return queue(VISCA_PTZ_ZOOM_WIDE, 4);
    const int high = value >> 4, speed = value & 0x0F;
    if (high != 2 && high != 3) return unknown();
    if (speed > 7) return reject();
    return queue(high == 2 ? VISCA_PTZ_ZOOM_TELE : VISCA_PTZ_ZOOM_WIDE, static_cast<float>(speed));
}

ViscaDecoder::Outcome ViscaDecoder::focusDrive(uint8_t value) {
    if (value == 0x00) return queue(VISCA_PTZ_FOCUS, 0, 0);
    if (value == 0x02) return queue(VISCA_PTZ_FOCUS, 32, 32);
    if (value == 0x03) return queue(VISCA_PTZ_FOCUS, 48, 48);
    const int high = value >> 4, speed = value & 0x0F;
    if (high != 2 && high != 3) return unknown();
    if (speed > 7) return reject();
    return queue(VISCA_PTZ_FOCUS_VARIABLE, static_cast<float>(speed), static_cast<float>(value));
}

ViscaDecoder::Outcome ViscaDecoder::exposure(Payload p) {
    if (p[3] == 0x4B) {
        if (!form(p, 9) || p[4] != 0x00 || p[5] != 0x00) return unknown();
        return queue(VISCA_PTZ_IRIS, 322, static_cast<float>((p[6] & 0xF) << 4 | (p[7] & 0xF)));
    }
    if (!form(p, 6)) return unknown();
    switch (p[3] << 8 | p[4]) {
        case 0x3900:
        case 0x0B00: return queue(VISCA_PTZ_AE_AUTO);
        case 0x3903: return queue(VISCA_PTZ_IRIS, 0, 0);
        case 0x390A:
        case 0x390B:
        case 0x3302:
        case 0x3A02: return done();
        case 0x0B02: return queue(VISCA_PTZ_IRIS, 83, 83);
        case 0x0B03: return queue(VISCA_PTZ_IRIS, 85, 85);
        default: return unknown();
    }
}

ViscaDecoder::Outcome ViscaDecoder::memory(Payload p) {
    const uint8_t action = p[4], value = p[5];
    if (action <= 0x02) {
        if (value >= kPresets) return reject();
        if (action == 0x00) return queue(VISCA_PTZ_MEMORY_RESET, value);
        if (action == 0x01) return queue(VISCA_PTZ_MEMORY_SET, value);
        uint8_t speed = target.presetSpeed(value);
        if (speed == 0 || speed > kMaxPanTiltSpeed) speed = kMaxPanTiltSpeed;
        return queue(VISCA_PTZ_MEMORY_RECALL, value, speed);
    }
    if ((action >> 4) != 2 || value != 0x7F) return unknown();
    switch (action & 0x0F) {
        case 2: return queue(VISCA_PTZ_RECORD_2, 2);
        case 3: return queue(VISCA_PTZ_RECORD_3, 3);
        case 4: return queue(VISCA_PTZ_KEY30_4, 4);
        case 5: return queue(VISCA_PTZ_KEY30_5, 5);
        default: return reject();
    }
}

ViscaDecoder::Outcome ViscaDecoder::vendor(Payload p) {
    if (!form(p, 8) || p[3] != 0x01) return unknown();
    const uint8_t item = p[4], a = p[5], b = p[6];
    switch (item) {
        case 0x0B:
            if (a >= kPresets || b > kMaxPanTiltSpeed) return reject();
            target.setPresetSpeed(a, b);
            return done();
        case 0x0A:
            if (a != 0x00) return unknown();
            if (b == 2) return queue(VISCA_PTZ_TALLY, 1.0f);
            if (b == 3) return queue(VISCA_PTZ_TALLY, 0);
            return reject();
        case 0x02:
            if (a == 0x00 && b == 0x01) return queue(VISCA_PTZ_KEY_A2);
            if (a == 0x30 && b >= 2 && b <= 5) return queue(VISCA_PTZ_KEY_84 + (b - 2));
            return unknown();
        case 0x06:
        case 0x09: {
            if (a != 0x00) return unknown();
            if (b > 1) return reject();
            return queue(item == 0x06 ? VISCA_PTZ_PAN_REVERSE : VISCA_PTZ_TILT_REVERSE, b);
        }
        default: return unknown();
    }
}

ViscaDecoder::Outcome ViscaDecoder::extension(Payload p) {
    if (p[2] == 0x06 && p[3] == 0x05) return form(p, 5) ? zoomRestart() : unknown();
    if (p[2] != 0x04) return unknown();
    switch (p[3]) {
        case 0x08:
            if (!form(p, 6)) return unknown();
            for (int i = 0; i < kPresets; ++i) target.setPresetSpeed(i, kMaxPanTiltSpeed);
            return done();
        case 0x07: {
            if (!form(p, 6) || (p[4] >> 4) != 4) return unknown();
            const int direction = p[4] & 0x0F;
            logAt(5, "VISCA_PTZ_ZOOM_DIRECTION %d\n", direction);
            if (direction > 1) return reject();
            return queue(VISCA_PTZ_ZOOM_DIRECTION, static_cast<float>(direction));
        }
        case 0x47: return form(p, 10) ? zoomServo(p) : unknown();
        default: return unknown();
    }
}

ViscaDecoder::Outcome ViscaDecoder::zoomServo(Payload p) {
    const int kind = p[4] >> 4, speed = p[4] & 0x0F;
    const int value = signedNibbles(p, 5);
    switch (kind) {
        case 1:
            logAt(5, "VISCA_PTZ_ZOOM_TORQUE %d\n", value);
            // A negative limit would reach the servo as a huge one.
            if (value < 0 || value > 1000) return reject();
            return queue(VISCA_PTZ_ZOOM_TORQUE, static_cast<float>(value), 0);
        case 2:
            logAt(5, "VISCA_PTZ_ZOOM_ABSOLUTE_POS %d, SPEED %d\n", value, speed);
            if (value < 0 || value > 16384 || speed > 7) return reject();
            return queue(VISCA_PTZ_ZOOM_ABSOLUTE_POS, static_cast<float>(value), static_cast<float>(speed));
        case 3:
            logAt(5, "VISCA_PTZ_ZOOM_RELATIVE_POS %d, SPEED %d\n", value, speed);
            if (speed > 7) return reject();
            return queue(VISCA_PTZ_ZOOM_RELATIVE_POS, static_cast<float>(value), static_cast<float>(speed));
        default: return unknown();
    }
}

ViscaDecoder::Outcome ViscaDecoder::zoomRestart() {
    if (target.zoomLimitRestart() == 0 && target.detectMultiPort() == 0) return unknown();
    return queue(VISCA_PTZ_ZOOM_RESTART);
}
