// The VISCA inquiry forms the camera recognises, and the kind each one decodes to.
#pragma once

#include <cstdint>
#include <span>

enum ViscaInquiryKind : int {
    INQUIRY_PANTILT_PositionInq = 7,
    INQUIRY_ZOOM_PositionInq,
    INQUIRY_CAM_PowerInq,      // from the network: always answered "on"
    INQUIRY_CAM_PowerInq_Web,  // from the bridge: the real power state
    INQUIRY_CAM_VersionInq,
    INQUIRY_VideoSystemSETInq,
    INQUIRY_AudioSystemSETInq,
    INQUIRY_TallyLampInq,
    INQUIRY_Pan_ReverseInq,
    INQUIRY_Tilt_ReverseInq,
    INQUIRY_PanTilt_RampCurveInq,
    INQUIRY_CAM_Block_BECInq,
    INQUIRY_CAM_Block_YNMInq,
    INQUIRY_WB_BalanceInq,
    INQUIRY_FOCUS_ModeInq,
    INQUIRY_EXPOSURE_ModeFullAutoInq,
    INQUIRY_CAM_Block0_Inq,
    INQUIRY_CAM_Block1_Inq,
};

inline constexpr int kFirstInquiryKind = INQUIRY_PANTILT_PositionInq;
inline constexpr int kLastInquiryKind = INQUIRY_CAM_Block1_Inq;

// True when the payload's message byte marks an inquiry (09, 19 or 29).
bool isInquiryMessage(uint8_t messageByte);
// The kind of a complete inquiry payload (address byte through 0xFF), or 0.
int inquiryKindOf(std::span<const uint8_t> payload, int source);
// The name logged for a kind; null for anything else.
const char* inquiryName(int kind);
