// The audio capture thread, its buffer sequence and the sample-rate measurement.
#include "media/audio_capture.h"

#include <cstdio>

#include "base/log.h"
#include "hw/hardware.h"
#include "hw/realtime.h"
#include "hw/timecode.h"
#include "media/audio_compress.h"
#include "platform/thread_name.h"

using namespace std::chrono_literals;

namespace {
constexpr uint8_t kReset = 0x80;
constexpr uint8_t kStart = 1;
constexpr uint8_t kEvents = 0xc0;
constexpr uint32_t kStateBits = 3;
constexpr uint32_t kChannelReg = 1;  // written: channel setting word; read: measured rate
constexpr uint32_t kAddressReg = 2;
constexpr uint32_t kLengthReg = 3;
constexpr uint32_t kFallbackRate = 48000;
constexpr float kReferenceLevel = 20.0f;

struct rate_band {
    uint32_t low, high, rate;
};
// Measurements in 100 Hz units, tested in this order.
constexpr rate_band kRates[] = {{479, 481, 48000}, {440, 442, 44100}, {959, 961, 96000}, {319, 321, 32000}};

audio_ring area3(const hardware& hw) {
    const address_range area = hw.layout().get_area(3);
    return audio_ring(area.offset, area.size);
}
}  // namespace

audio_capture::audio_capture(std::shared_ptr<hardware> hw_, std::shared_ptr<audio_compress> compressor_,
                             std::shared_ptr<platform::Platform> platform_)
    : hw(std::move(hw_)), compressor(std::move(compressor_)), platform(std::move(platform_)), ring(area3(*hw)) {
    logAt(4, "audio_capture Constructor\n");
    set_volume(volume);
    hw->write8(block, 0, 1, static_cast<uint8_t>((control_a | control_b) & 0xff));
    publish_status();
    thread = std::thread(&audio_capture::capture_frames, this);
}

audio_capture::~audio_capture() {
    logAt(4, "audio_capture Destructor\n");
    std::fflush(stdout);
    requestStop();
    if (thread.joinable()) thread.join();
    if (platform) platform->publishStatus("audio", {});
}

uint32_t audio_capture::rate_for(uint32_t measured, uint32_t& valid) {
    for (const auto& band : kRates) {
        if (measured >= band.low && measured <= band.high) {
            valid = 1;
            return band.rate;
        }
    }
    valid = 0;
    return kFallbackRate;
}

void audio_capture::set_volume(uint32_t value) {
    std::lock_guard lock(settings_mutex);
    volume = value;
    for (uint32_t c = 0; c < channels; ++c)
        hw->write32(block, kChannelReg, c << 24 | (value & 0xff) << 16 | (channel_config & 0xffff));
}

void audio_capture::measure_rate() { sample_rate = rate_for(hw->read32(block, kChannelReg), rate_valid); }

void audio_capture::get_settings(audio_settings& out) {
    std::lock_guard lock(settings_mutex);
    measure_rate();
    out.valid = rate_valid;
    out.control_a = control_a;
    out.control_b = control_b;
    out.channels = channels;
    out.sample_rate = sample_rate;
}

std::shared_ptr<audio_capture::frame_t> audio_capture::make_frame() {
    auto frame = std::make_shared<frame_t>();
    std::lock_guard lock(settings_mutex);
    // Measured for every frame, so frames carry the current rate even without a tracking input.
    measure_rate();
    frame->channels = channels;
    frame->samples = samples;
    frame->sample_rate = sample_rate;
    frame->timecode = 0;
    frame->reference_level = kReferenceLevel;
    frame->address = ring.take(samples * channels * 4);
    frame->data = static_cast<int32_t*>(hw->host_address(frame->address));
    return frame;
}

void audio_capture::arm(const frame_t& frame) {
    if ((hw->read32(block, 0) & kStateBits) == 1) hw->read32(block, 0);
    hw->write32(block, kAddressReg, hw->bus_address(frame.address));
    hw->write32(block, kLengthReg, frame.samples);
}

void audio_capture::initialise_block() {
    hw->write8(block, 0, 0, kReset);
    hw->write8(block, 0, 3, kEvents);
    hw->write32(block, 0, 0);
    hw->write8(block, 0, 1, static_cast<uint8_t>((control_a | control_b) & 0xff));
}

bool audio_capture::wait_for_buffer() {
    while (hw->wait_irq(hardware::aud_in, 200ms) < 0)
        if (stop) return false;
    return true;
}

void audio_capture::capture_frames() {
    set_thread_name("audcap");
    if (!set_realtime_priority(1)) logAt(2, "audio_capture::capture_frames: Could not set thread priority!\n");
    initialise_block();
    auto current = make_frame();
    arm(*current);
    hw->write8(block, 0, 2, kEvents);
    hw->write8(block, 0, 0, kStart);
    while (!stop) {
        hw->enable_irq(hardware::aud_in);
        auto next = make_frame();
        arm(*next);  // the block gets the following buffer while it fills the current one
        hw->write8(block, 0, 0, kStart);
        // A buffer that never completed holds no audio: it is not sent.
        if (!wait_for_buffer()) break;
        hw->write8(block, 0, 3, kEvents);
        current->timecode = timecode_now();
        logAt(3, ":");
        compressor->push(std::move(current));
        current = std::move(next);
    }
    compressor->push(nullptr);  // the sender's end marker
}

void audio_capture::publish_status() {
    if (!platform) return;
    platform->publishStatus("audio", [this](std::map<std::string, long long>& values) {
        {
            std::lock_guard lock(settings_mutex);
            values["rate"] = rate_valid ? sample_rate : 0;
        }
        values["drops"] = static_cast<long long>(compressor->drops());
    });
}
