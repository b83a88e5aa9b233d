#include "control/visca_inquiries.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/log.h"
#include "control/visca_inquiry_kind.h"

namespace {
constexpr uint8_t kAnswer = 0x50;
constexpr uint8_t kEnd = 0xFF;
constexpr int kNoServoZoom = 65535;

// `count` nibbles of value, most significant first, the first taken at bit `topShift`.
void appendNibbles(visca::Bytes& out, uint32_t value, int topShift, int count) {
    for (int i = 0; i < count; ++i) out.push_back(static_cast<uint8_t>((value >> (topShift - 4 * i)) & 0x0F));
}

visca::Bytes single(int value) { return {kAnswer, static_cast<uint8_t>(value), kEnd}; }

uint8_t focusByte(int32_t focus_mode) { return focus_mode == 1 ? 0x03 : 0x02; }

float zoomFactor(const ZoomReading& r) { return 16384.0f / static_cast<float>(r.max - r.min); }
}  // namespace

int ViscaInquiries::zoomValue(const ZoomReading& r) {
    const float zoom = zoomFactor(r) * static_cast<float>(r.raw - r.min);
    // An uncalibrated range (min = max) divides by zero: nothing sensible is known, report the top.
    if (!std::isfinite(zoom) || std::fabs(zoom) > static_cast<float>(std::numeric_limits<int32_t>::max()))
        return kNoServoZoom;
    return static_cast<int>(zoom);
}

visca::Bytes ViscaInquiries::answer(int kind) {
    // The signal inquiries log their codes first.
    if (kind == INQUIRY_VideoSystemSETInq || kind == INQUIRY_AudioSystemSETInq) return signalCode(kind);
    if (const char* name = inquiryName(kind)) logAt(5, "%s\n", name);
    const CameraWords w = source.cameraWords();
    switch (kind) {
        case INQUIRY_PANTILT_PositionInq: return panTiltPosition();
        case INQUIRY_ZOOM_PositionInq: return zoomPosition();
        case INQUIRY_CAM_PowerInq: return single(0x02);
        case INQUIRY_CAM_PowerInq_Web: return single(source.cameraPowerGet());
        case INQUIRY_CAM_VersionInq: return {kAnswer, 0x0E, 0x0E, 0x11, 0x20, 0x00, 0x01, 0x01, kEnd};
        case INQUIRY_TallyLampInq: return single(w.tally_on != 0 ? 0x02 : 0x03);
        case INQUIRY_Pan_ReverseInq: return single(w.pan_reverse);
        case INQUIRY_Tilt_ReverseInq: return single(w.tilt_reverse);
        case INQUIRY_PanTilt_RampCurveInq:
            // A speed-up below 1 (a hand-edited file) answers 0 rather than a wrapped value.
            return single(static_cast<int>(static_cast<unsigned>(std::max(0.0f, w.max_speed_up * 10.0f - 10.0f))));
        case INQUIRY_CAM_Block_BECInq: return blockBec();
        case INQUIRY_CAM_Block_YNMInq:
            return {kAnswer, 0x02, 0x00, static_cast<uint8_t>(w.exposure_mode == 1 ? 0x03 : 0x00), 0x02,
                    focusByte(w.focus_mode), 0x03, 0x03, 0x00, 0x00, 0x03, kEnd};
        case INQUIRY_WB_BalanceInq: return single(w.wb_mode & 0xFF);
        case INQUIRY_FOCUS_ModeInq: return single(focusByte(w.focus_mode));
        case INQUIRY_EXPOSURE_ModeFullAutoInq: return single(0x00);
        case INQUIRY_CAM_Block0_Inq: return block0();
        case INQUIRY_CAM_Block1_Inq:
            return {kAnswer, 0, 0, 0, 0, static_cast<uint8_t>(w.wb_mode & 0xFF), 0, 0, 0, 0, 0, 0, 0, 0, kEnd};
        default: return {};
    }
}

visca::Bytes ViscaInquiries::panTiltPosition() {
    const HeadLimits limits = source.headLimits();
    const int32_t tiltActual = source.actualPosition(ViscaTarget::kTiltMotor);
    const int32_t panActual = source.actualPosition(ViscaTarget::kPanMotor);
    logAt(5, "degree PanPos  : %d, %X, %d\n", panActual, 0, limits.pan_center);
    logAt(5, "degree TiltPos : %d, %X, %d\n", tiltActual, 0, limits.tilt_center);
    // Wrapping subtraction: the offsets are 32-bit microstep counts.
    const uint32_t pan = static_cast<uint32_t>(panActual) - static_cast<uint32_t>(limits.pan_center);
    const uint32_t tilt = static_cast<uint32_t>(tiltActual) - static_cast<uint32_t>(limits.tilt_center);
    visca::Bytes out{kAnswer};
    appendNibbles(out, pan, 20, 4);
    appendNibbles(out, tilt, 20, 4);
    out.push_back(kEnd);
    return out;
}

// The zoom in 0..16384; `report` logs the reading (the zoom answer only).
int ViscaInquiries::loggedZoom(bool report) {
    const ZoomReading reading = source.readZoom();
    const int zoom = zoomValue(reading);
    if (report) {
        logAt(5, "zoom Pos       : %d, limit-width   %d\n", reading.raw, reading.width);
        logAt(5, "SERVO_MAX_POS  : %d, SERVO_MIN_POS %d\n", reading.max, reading.min);
        logAt(5, "zoomRange      : %f\n", static_cast<double>(zoomFactor(reading)));
        logAt(5, "zoom_pos       : %d\n", zoom);
    }
    return zoom;
}

visca::Bytes ViscaInquiries::zoomPosition() {
    if (source.zoomUnknown()) return {};
    visca::Bytes out{kAnswer};
    appendNibbles(out, static_cast<uint32_t>(loggedZoom(true)), 12, 4);
    out.push_back(kEnd);
    return out;
}

visca::Bytes ViscaInquiries::block0() {
    const CameraWords w = source.cameraWords();
    visca::Bytes out{kAnswer};
    appendNibbles(out, static_cast<uint32_t>(loggedZoom(false)), 12, 4);
    out.insert(out.end(), {0, 0, 0, 0, 0, 0, 0x00, focusByte(w.focus_mode), 0x00, kEnd});
    return out;
}

visca::Bytes ViscaInquiries::blockBec() {
    const ZoomSettings z = source.zoomSettings();
    const CameraWords w = source.cameraWords();
    const int16_t margin = z.width == 0 ? int16_t{0} : static_cast<int16_t>(z.width - 100);
    logAt(5, "zoom margin limit-width %d\n", margin);
    visca::Bytes out{kAnswer};
    appendNibbles(out, static_cast<uint16_t>(margin), 12, 4);
    appendNibbles(out, static_cast<uint16_t>(z.torque_limit), 12, 4);
    out.push_back(static_cast<uint8_t>(z.servo_flags | (z.multiport_mode * 4)));
    out.push_back(static_cast<uint8_t>(static_cast<uint8_t>(z.reverse) | (w.tilt_reverse != 0 ? 0x10 : 0) |
                                       (w.pan_reverse != 0 ? 0x20 : 0)));
    out.push_back(0x10);
    out.insert(out.end(), 8, 0x00);
    out.push_back(kEnd);
    return out;
}

visca::Bytes ViscaInquiries::signalCode(int kind) {
    const SignalCodes codes = source.querySignalCodes();
    logAt(5, "hdmi vidState %X, audState %X\n", codes.video, codes.audio);
    logAt(5, "%s\n", inquiryName(kind));
    return single(kind == INQUIRY_VideoSystemSETInq ? codes.video : codes.audio);
}
