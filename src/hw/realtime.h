// Real-time scheduling for the media threads, through the platform.
#pragma once

// SCHED_FIFO at (maximum priority - step_down) for the calling thread; true when granted.
bool set_realtime_priority(int step_down);
