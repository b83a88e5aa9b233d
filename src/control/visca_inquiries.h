// The answers to the VISCA inquiries, built from the state that the inquiry source reports.
#pragma once

#include <cstdint>

#include "control/inquiry_source.h"
#include "control/visca_framing.h"

class ViscaInquiries {
public:
    explicit ViscaInquiries(InquirySource& source) : source(source) {}

    // The reply payload after the prefix byte (0x50 ... 0xFF); empty when the kind cannot be answered.
    visca::Bytes answer(int kind);

    // The zoom reported for a reading: the servo position scaled to 0..16384 of the calibrated range.
    static int zoomValue(const ZoomReading& reading);

private:
    visca::Bytes panTiltPosition();
    visca::Bytes zoomPosition();
    visca::Bytes blockBec();
    visca::Bytes block0();
    visca::Bytes signalCode(int kind);
    int loggedZoom(bool report);

    InquirySource& source;
};
