#include "hw/realtime.h"

#include "platform/platform.h"

bool set_realtime_priority(int step_down) { return platform::installed()->setRealtimePriority(step_down); }
