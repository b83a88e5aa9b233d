// NdiPtzMetadata: one NDI receiver's PTZ metadata frame (an ntk_ptz_* element) to one command record.
#pragma once

#include <string>

#include "control/ptz_command.h"

class NdiPtzMetadata {
public:
    // Elements nested deeper than this are refused before parsing: the parser recurses per level.
    static constexpr int kMaxDepth = 32;
    // Preset indices a receiver may name.
    static constexpr long kMaxPresetIndex = 99;

    struct Request {
        PtzCommand command;
        // ntk_ptz_zoom with zoom -1: recalibrate the zoom (the record itself has code 0).
        bool zoomRestart = false;
    };

    // Parses `text` in place (it is changed). False, with `error` set, when it is not well-formed XML.
    static bool decode(std::string& text, Request& out, std::string& error);

    // The table's clamps: not-a-number gives the value that moves nothing.
    static double clamp01(double value);
    static double clampPM(double value);
};
