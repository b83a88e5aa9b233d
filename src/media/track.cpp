// The "track" thread and the decoding of the tracking block's measurement.
#include "media/track.h"

#include <chrono>
#include <cstdio>

#include "base/log.h"
#include "hw/hardware.h"
#include "media/audio_capture.h"
#include "media/video_capture.h"
#include "platform/thread_name.h"

using namespace std::chrono_literals;

namespace {
struct rate_band {
    uint32_t low, high;
    int32_t rate_n, rate_d;
};

// Frame periods in microseconds, tested in order; the second row catches any other period below 16700.
constexpr rate_band kBands[] = {
    {16650, 16682, 60000, 1000}, {0, 16699, 60000, 1001},     {19984, 20016, 50000, 1000},
    {33317, 33349, 30000, 1000}, {33350, 33382, 30000, 1001}, {39984, 40016, 25000, 1000},
    {41650, 41682, 24000, 1000}, {41692, 41724, 24000, 1001},
};
}  // namespace

track::track(std::shared_ptr<hardware> hw_, std::shared_ptr<video_capture> capture_,
             std::shared_ptr<audio_capture> audio_)
    : hw(std::move(hw_)),
      platform_id(hw->platform_info().platform_id),
      capture(std::move(capture_)),
      audio(std::move(audio_)) {
    thread = std::thread(&track::run, this);
}

track::~track() {
    requestStop();
    if (thread.joinable()) thread.join();
}

signal_info track::decode(uint32_t value) {
    signal_info info;
    info.valid = 1;
    if (value & 0x80) {
        info.width = 1920, info.height = 1080;
    } else if (value & 0x40) {
        info.width = 1920, info.height = 540, info.interlaced = 1;
    } else if (value & 0x20) {
        info.width = 1280, info.height = 720;
    } else {
        info.valid = 0;
    }
    const uint32_t period = value >> 16;
    info.rate_n = 60000, info.rate_d = 1000;
    for (const auto& band : kBands) {
        if (period >= band.low && period <= band.high) {
            info.rate_n = band.rate_n, info.rate_d = band.rate_d;
            break;
        }
    }
    return info;
}

int track::integer_rate(const signal_info& info) { return info.rate_d == 0 ? 0 : info.rate_n / info.rate_d; }

void track::read_signal() {
    const signal_info info = decode(hw->read32(block, 0));
    std::printf("Signal : %ix%ip%i %i\n", info.width, info.height, integer_rate(info), info.valid);
    std::fflush(stdout);
    if (capture) capture->set_signal(info);
}

void track::get_video_summary(int& width, int& height, int& interlaced, int& rate) {
    if (!capture) return;
    const signal_info info = capture->get_signal();
    width = info.width;
    height = info.height;
    interlaced = static_cast<int>(info.interlaced);
    rate = integer_rate(info);
}

void track::get_audio_rate(int& rate) {
    if (!audio) return;
    audio_settings settings;
    audio->get_settings(settings);
    rate = settings.valid == 1 ? static_cast<int>(settings.sample_rate) : 0;
}

void track::refresh_audio_rate() {
    // Asking for the settings re-measures the rate that new audio frames carry.
    if (!audio) return;
    audio_settings settings;
    audio->get_settings(settings);
}

void track::run() {
    set_thread_name("track");
    hw->write8(block, 0, 0, 3);
    read_signal();
    while (running.load()) {
        hw->enable_irq(hardware::vid_track);
        const int result = hw->wait_irq(hardware::vid_track, 100ms);
        refresh_audio_rate();
        if (result < 0) continue;
        hw->write8(block, 0, 0, 7);
        logAt(3, "T");
        read_signal();
    }
    hw->write8(block, 0, 0, 0);
}
