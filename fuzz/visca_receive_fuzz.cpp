// Fuzzes the VISCA receive path (both sources), the parser and the decoder behind a stand-in service,
// with the inquiries answered from readings the input chooses.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "control/inquiry_source.h"
#include "control/visca_framing.h"
#include "control/visca_inquiries.h"
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

// Every reading an inquiry may make, taken from the input so any value, however odd, is met.
struct Readings {
    HeadLimits limits;
    int32_t tilt = 0;
    int32_t pan = 0;
    ZoomReading zoom;
    ZoomSettings settings;
    CameraWords words;
    SignalCodes codes;
    int power = 2;
    bool zoomUnknown = false;
};

class FuzzSource : public InquirySource {
public:
    explicit FuzzSource(const Readings& r) : r(r) {}
    HeadLimits headLimits() override { return r.limits; }
    int32_t actualPosition(int motor) override { return motor == ViscaTarget::kPanMotor ? r.pan : r.tilt; }
    bool zoomUnknown() override { return r.zoomUnknown; }
    ZoomReading readZoom() override { return r.zoom; }
    ZoomSettings zoomSettings() override { return r.settings; }
    int cameraPowerGet() override { return r.power; }
    CameraWords cameraWords() override { return r.words; }
    SignalCodes querySignalCodes() override { return r.codes; }

private:
    const Readings& r;
};

constexpr size_t kReadingBytes = 96;

Readings readingsFrom(std::span<const uint8_t> tail) {
    Readings r;
    const auto take = [&tail](auto& field) {
        const size_t n = std::min(sizeof field, tail.size());
        std::memcpy(&field, tail.data(), n);
        tail = tail.subspan(n);
    };
    take(r.limits);
    take(r.tilt);
    take(r.pan);
    take(r.zoom.raw);
    take(r.zoom.min);
    take(r.zoom.max);
    take(r.zoom.width);
    take(r.settings);
    take(r.words.focus_mode);
    take(r.words.exposure_mode);
    take(r.words.wb_mode);
    take(r.words.tally_on);
    take(r.words.pan_reverse);
    take(r.words.tilt_reverse);
    take(r.words.max_speed_up);
    take(r.codes);
    take(r.power);
    uint8_t unknown = 0;
    take(unknown);
    r.zoomUnknown = unknown & 1;
    return r;
}

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
    std::span<const uint8_t> rest(data + 1, size - 1);
    // With 0x40 the readings come first, a fixed block; without, they are all zero (an uncalibrated zoom).
    const size_t readingBytes = (data[0] & 0x40) ? std::min(kReadingBytes, rest.size()) : 0;
    const Readings readings = readingsFrom(rest.first(readingBytes));
    rest = rest.subspan(readingBytes);
    const std::span<const uint8_t> datagram = rest.first(std::min(rest.size(), visca::kMaxDatagram));
    FuzzSource source(readings);
    ViscaInquiries inquiries(source);
    ViscaReceiver receiver(target);
    receiver.viscaParser().setInquiryAnswer([&inquiries](int kind, int) { return inquiries.answer(kind); });
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
