// The 100 ns wall-clock timecode every video and audio frame carries.
#pragma once

#include <cstdint>

// Wall clock at process start plus the real-time clock's progress since.
int64_t timecode_now();
