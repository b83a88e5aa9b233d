// Direction codes of the VISCA pan/tilt commands, as the queue thread executes them.
#include "control/ptz_command.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace {
// VISCA_PTZ_UP .. VISCA_PTZ_STOP in code order: up, down, left, right, down-left,
// down-right, up-left, up-right, stop.
constexpr std::array<int, 9> kDriveDirections = {1, 2, 3, 4, 7, 8, 5, 6, 9};
}  // namespace

bool isFreeModeCode(int32_t code) {
    return (code >= VISCA_PTZ_FREE_UP && code <= VISCA_PTZ_FREE_STOP) || code == VISCA_PTZ_FREE_POSITION;
}

int panTiltDirectionOf(int32_t code) {
    const bool free = isFreeModeCode(code);
    const int32_t base = free ? code - VISCA_PTZ_FREE_OFFSET : code;
    if (base >= VISCA_PTZ_UP && base <= VISCA_PTZ_STOP) return kDriveDirections[static_cast<size_t>(base - VISCA_PTZ_UP)];
    if (base == VISCA_PTZ_POSITION) return 10;
    if (free) return -1;
    if (base == VISCA_PTZ_HOME) return 0;
    if (base == VISCA_PTZ_RESET) return 255;
    return -1;
}

int32_t integerOf(float value) {
    if (std::isnan(value)) return 0;
    return static_cast<int32_t>(std::clamp(value, -1.0e9f, 1.0e9f));
}
