// Arbitrary bytes from the MultiPort adapter, through the port's read and the frame matching,
// in chunks whose sizes the input chooses (split frames, floods).
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "base/log.h"
#include "control/multiport_input.h"
#include "motion/multi_port.h"

namespace {
struct Line {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    MultiPort port;
    MultiPortInput input{port};
    Line() {
        grantpt(master);
        unlockpt(master);
        fcntl(master, F_SETFL, O_NONBLOCK);
        port.open(MultiPort::kProbeBaud, ptsname(master));
        port.read_timeout_ms = 0;
    }
    void drainReplies() {
        uint8_t sink[256];
        while (::read(master, sink, sizeof sink) > 0) {
        }
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    debug_level = 0;
    static const bool silent = std::freopen("/dev/null", "w", stdout) != nullptr;  // "MultiPort:: Detect" is printed
    (void)silent;
    static Line line;
    size_t at = 0;
    while (at < size) {
        const size_t chunk = 1 + data[at] % 32;
        const size_t take = chunk < size - at ? chunk : size - at;
        if (::write(line.master, data + at, take) < 0) break;
        at += take;
        line.input.serve();
    }
    line.input.handle({data, size});
    line.drainReplies();
    return 0;
}
