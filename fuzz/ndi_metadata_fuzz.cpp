// Fuzzes the NDI PTZ metadata path from a frame's text to the record it queues.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/log.h"
#include "control/ndi_ptz_receiver.h"

namespace {
class FuzzTarget : public ViscaTarget {
public:
    void pushCommand(const PtzCommand& command) override {
        ++pushed;
        last = command;
    }
    int limitState() override { return 1; }
    HeadLimits headLimits() override { return {}; }
    int32_t actualPosition(int) override { return 0; }
    void setPositionTargets(int32_t, int32_t) override {}
    uint8_t presetSpeed(int) override { return 0; }
    void setPresetSpeed(int, uint8_t) override {}
    int zoomLimitRestart() override { return 0; }
    int detectMultiPort() override { return 0; }

    int pushed = 0;
    PtzCommand last;
};

void check(bool condition) {
    if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The zoom speed line goes to standard output and each dropped frame is logged; keep the
    // fuzzer's output readable and its pace up.
    debug_level = 0;
    if (!std::freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzTarget target;
    NdiPtzReceiver receiver(nullptr, target);
    const bool queued = receiver.handleFrame(std::string(reinterpret_cast<const char*>(data), size));
    // One record for a well-formed frame, none for another; arguments always finite and in range.
    check(target.pushed == (queued ? 1 : 0));
    if (queued) {
        check(std::isfinite(target.last.arg1) && std::isfinite(target.last.arg2));
        check(std::fabs(target.last.arg2) <= 1.0f);
        check(target.last.code == NDI_STORE_PRESET || target.last.code == NDI_RECALL_PRESET
                  ? target.last.arg1 >= 0 && target.last.arg1 <= 99
                  : std::fabs(target.last.arg1) <= 1.0f);
    }
    return 0;
}
