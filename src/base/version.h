// The firmware version text and the way the degree mode and reverse flags mark it.
#pragma once

#include <string>

// The process-wide version text, also handed to the PTZ service.
extern char version_text[];

// The version text up to its first "_", the degree suffix, "(M)" unless the
// limit is exactly 150, and "-Reverse" when either axis is reversed.
std::string marked_version(const std::string& text, int ptz_limit, bool reversed);
