#include "control/visca_inquiry_kind.h"

#include <array>

namespace {
struct InquiryForm {
    uint8_t message;  // byte 1
    uint8_t body[3];  // bytes 2.. before the 0xFF
    uint8_t bodyLength;
    int kind;
};

constexpr std::array<InquiryForm, 17> kForms = {{
    {0x09, {0x06, 0x12}, 2, INQUIRY_PANTILT_PositionInq},
    {0x09, {0x04, 0x47}, 2, INQUIRY_ZOOM_PositionInq},
    {0x09, {0x04, 0x00}, 2, INQUIRY_CAM_PowerInq},
    {0x09, {0x00, 0x02}, 2, INQUIRY_CAM_VersionInq},
    {0x09, {0x06, 0x23}, 2, INQUIRY_VideoSystemSETInq},
    {0x09, {0x06, 0x24}, 2, INQUIRY_AudioSystemSETInq},
    {0x09, {0x7E, 0x01, 0x0A}, 3, INQUIRY_TallyLampInq},
    {0x09, {0x7E, 0x01, 0x06}, 3, INQUIRY_Pan_ReverseInq},
    {0x09, {0x7E, 0x01, 0x09}, 3, INQUIRY_Tilt_ReverseInq},
    {0x09, {0x06, 0x31}, 2, INQUIRY_PanTilt_RampCurveInq},
    {0x29, {0x04, 0x50}, 2, INQUIRY_CAM_Block_BECInq},
    {0x19, {0x04, 0x50}, 2, INQUIRY_CAM_Block_YNMInq},
    {0x09, {0x04, 0x35}, 2, INQUIRY_WB_BalanceInq},
    {0x09, {0x04, 0x38}, 2, INQUIRY_FOCUS_ModeInq},
    {0x09, {0x04, 0x39}, 2, INQUIRY_EXPOSURE_ModeFullAutoInq},
    {0x09, {0x7E, 0x7E, 0x00}, 3, INQUIRY_CAM_Block0_Inq},
    {0x09, {0x7E, 0x7E, 0x01}, 3, INQUIRY_CAM_Block1_Inq},
}};

bool matches(const InquiryForm& form, std::span<const uint8_t> payload) {
    const size_t length = 3u + form.bodyLength;  // address, message, body, 0xFF
    if (payload.size() != length || payload[1] != form.message || payload[length - 1] != 0xFF) return false;
    for (size_t i = 0; i < form.bodyLength; ++i) {
        if (payload[2 + i] != form.body[i]) return false;
    }
    return true;
}
}  // namespace

bool isInquiryMessage(uint8_t messageByte) { return messageByte == 0x09 || messageByte == 0x19 || messageByte == 0x29; }

int inquiryKindOf(std::span<const uint8_t> payload, int source) {
    for (const auto& form : kForms) {
        if (!matches(form, payload)) continue;
        if (form.kind == INQUIRY_CAM_PowerInq && source != 1) return INQUIRY_CAM_PowerInq_Web;
        return form.kind;
    }
    return 0;
}

const char* inquiryName(int kind) {
    switch (kind) {
        case INQUIRY_PANTILT_PositionInq: return "INQUIRY_PANTILT_PositionInq";
        case INQUIRY_ZOOM_PositionInq: return "INQUIRY_ZOOM_PositionInq";
        case INQUIRY_CAM_PowerInq:
        case INQUIRY_CAM_PowerInq_Web: return "INQUIRY_CAM_PowerInq";
        case INQUIRY_CAM_VersionInq: return "INQUIRY_CAM_VersionInq";
        case INQUIRY_VideoSystemSETInq: return "INQUIRY_VideoSystemSETInq";
        case INQUIRY_AudioSystemSETInq: return "INQUIRY_AudioSystemSETInq";
        case INQUIRY_TallyLampInq: return "INQUIRY_TallyLampInq";
        case INQUIRY_Pan_ReverseInq: return "INQUIRY_Pan_ReverseInq";
        case INQUIRY_Tilt_ReverseInq: return "INQUIRY_Tilt_ReverseInq";
        case INQUIRY_PanTilt_RampCurveInq: return "INQUIRY_PanTilt_RampCurveInq";
        case INQUIRY_CAM_Block_BECInq: return "INQUIRY_CAM_Block_BECInq";
        case INQUIRY_CAM_Block_YNMInq: return "INQUIRY_CAM_Block_YNMInq";
        case INQUIRY_WB_BalanceInq: return "INQUIRY_WB_BalanceInq";
        case INQUIRY_FOCUS_ModeInq: return "INQUIRY_FOCUS_ModeInq";
        case INQUIRY_EXPOSURE_ModeFullAutoInq: return "INQUIRY_EXPOSURE_ModeFullAutoInq";
        case INQUIRY_CAM_Block0_Inq: return "INQUIRY_CAM_Block0_Inq";
        case INQUIRY_CAM_Block1_Inq: return "INQUIRY_CAM_Block1_Inq";
        default: return nullptr;
    }
}
