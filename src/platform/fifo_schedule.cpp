#include "platform/fifo_schedule.h"

#include <pthread.h>
#include <sched.h>

namespace platform {

bool fifoSchedule(int stepDown) {
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO) - stepDown;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

}  // namespace platform
