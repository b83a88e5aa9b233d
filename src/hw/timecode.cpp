#include "hw/timecode.h"

#include <sys/time.h>

#include <ctime>

namespace {
struct timecode_origin {
    int64_t start_100ns;
    int64_t clock_ns;

    timecode_origin() {
        timeval wall{};
        gettimeofday(&wall, nullptr);
        start_100ns = static_cast<int64_t>(wall.tv_sec) * 10000000 + static_cast<int64_t>(wall.tv_usec) * 10;
        clock_ns = now_ns();
    }

    static int64_t now_ns() {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    }
};

const timecode_origin origin;
}  // namespace

int64_t timecode_now() { return origin.start_100ns + (timecode_origin::now_ns() - origin.clock_ns) / 100; }
