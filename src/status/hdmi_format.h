// Identification of the HDMI input's video format from the receiver's timing measurements.
#pragma once

#include <cstdint>

struct hdmi_timing {
    bool interlaced = false;
    int h_active = 0, v_active = 0, h_total = 0, v_total = 0;
    int clock = 0;  // the receiver's pixel clock measure: 3456000 / pixel rate in kHz
};

struct hdmi_format_match {
    int code;
    bool standard_definition;  // 480i or 576i: the receiver's output needs its SD setting
};

constexpr int hdmi_format_unknown = 32;

// The raw timing registers (0x58..0x64) as the measurement they hold.
hdmi_timing decode_hdmi_timing(uint8_t r58, uint8_t r59, uint8_t r5a, uint8_t r5b, uint8_t r5f, uint8_t r60,
                               uint8_t r61, uint8_t r64);

// Frames (fields when interlaced) per second from the measurement; -1 when not measurable.
int hdmi_frame_rate(const hdmi_timing& t);

// The format code, 32 when not measurable, or `current` when size or rate is not in the table.
hdmi_format_match identify_hdmi_format(const hdmi_timing& t, int current);

// Codes that differ only in the 1000/1001 rate variant.
bool hdmi_pair_partners(int a, int b);
