// Asks the kernel for SCHED_FIFO for the calling thread.
#pragma once

namespace platform {

// Priority = the maximum SCHED_FIFO priority - stepDown; true when granted.
bool fifoSchedule(int stepDown);

}  // namespace platform
