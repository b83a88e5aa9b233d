// Fuzzes the VISCA receive path (both sources), the parser and the decoder behind a stand-in service.
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "control/visca_framing.h"
#include "control/visca_receiver.h"

namespace {
class FuzzTarget : public ViscaTarget {
public:
    void pushCommand(const PtzCommand&) override { ++pushed; }
    int limitState() override { return limit; }
    HeadLimits headLimits() override { return {0, 0, -1000000, 1000000, 500000, -500000}; }
    int32_t actualPosition(int motor) override { return motor == kPanMotor ? 2000000000 : -2000000000; }
    void setPositionTargets(int32_t, int32_t) override {}
    uint8_t presetSpeed(int index) override { return speeds.at(static_cast<size_t>(index)); }
    void setPresetSpeed(int index, uint8_t speed) override { speeds.at(static_cast<size_t>(index)) = speed; }
    int zoomLimitRestart() override { return 0; }
    int detectMultiPort() override { return 0; }

    int limit = 1;
    int pushed = 0;
    std::array<uint8_t, 10> speeds{};
};

void check(bool condition) {
    if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The parser prints its complaints; keep the fuzzer's output readable.
    if (!std::freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FuzzTarget target;
    target.limit = (data[0] & 0x80) ? 1 : -1;
    const bool bridge = data[0] & 1;
    const std::span<const uint8_t> datagram(data + 1, std::min(size - 1, visca::kMaxDatagram));
    ViscaReceiver receiver(target);
    std::vector<std::vector<uint8_t>> replies, controls;
    auto collect = [](auto& into) {
        return [&into](std::span<const uint8_t> d) { into.emplace_back(d.begin(), d.end()); };
    };
    if (bridge) {
        receiver.fromBridge(datagram, collect(replies), collect(controls));
    } else {
        receiver.fromNetwork(datagram, collect(replies));
    }
    // At most an ACK and one final answer, or one control reply; one record at most.
    check(replies.size() + controls.size() <= 2);
    check(target.pushed <= 1);
    for (const auto& reply : replies) {
        check(reply.size() == 9 || reply.size() >= 11);
        check(reply.back() == (reply.size() == 9 ? 0x01 : 0xFF));
    }
    if (datagram.size() < 9) check(replies.empty() && controls.empty());
    return 0;
}
