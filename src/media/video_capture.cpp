// The capture thread and the frame pairs it hands to the compressor.
#include "media/video_capture.h"

#include <cstdio>

#include "base/log.h"
#include "hw/hardware.h"
#include "hw/realtime.h"
#include "hw/timecode.h"
#include "media/video_compress.h"
#include "platform/thread_name.h"

using namespace std::chrono_literals;

namespace {
constexpr uint8_t kReset = 0x80;
constexpr uint8_t kStart = 1;
constexpr uint8_t kEvents = 0xc0;
constexpr uint8_t kFieldBit = 0x08;
constexpr uint32_t kStateBits = 3;
constexpr uint32_t kAddressReg = 2;

address_range raw_window(const hardware& hw) { return hw.layout().get_raw(); }
}  // namespace

video_capture::video_capture(std::shared_ptr<hardware> hw_, std::shared_ptr<video_compress> compressor_,
                             bool full_only_)
    : hw(std::move(hw_)),
      compressor(std::move(compressor_)),
      ring(raw_window(*hw).offset, raw_window(*hw).size),
      full_only(full_only_) {
    logAt(4, "video_capture Constructor\n");
}

video_capture::~video_capture() {
    logAt(4, "\n video_capture Destructor\n");
    std::fflush(stdout);
    requestStop();
    if (thread.joinable()) thread.join();
}

void video_capture::requestStop() {
    {
        std::lock_guard lock(enable_mutex);
        stop = true;  // also wakes a thread that was never enabled
    }
    enable_cv.notify_all();
}

void video_capture::start() { thread = std::thread(&video_capture::capture_frames, this); }

void video_capture::enable() {
    {
        std::lock_guard lock(enable_mutex);
        enabled = true;
    }
    enable_cv.notify_all();
}

void video_capture::set_signal(const signal_info& info) {
    std::lock_guard lock(signal_mutex);
    signal = info;
    ++signal_count;
}

signal_info video_capture::get_signal() {
    std::lock_guard lock(signal_mutex);
    signal_info copy = signal;
    copy.word5 = 0;
    return copy;
}

void video_capture::set_format(int32_t format_, int32_t width, int32_t height, int32_t stride, int32_t rate_n_,
                               int32_t rate_d_) {
    format = format_;
    rate_n = rate_n_;
    rate_d = rate_d_;
    geometry = derive_capture_format(format, width, height, stride, full_only);
    logAt(4, "\n Set %s format: xRes=%i yRes=%i stride=%i\n", format == 1 ? "420" : "422", width, height, stride);
}

void video_capture::apply_signal(const signal_info& info) {
    set_format(info.format, info.width, info.height, capture_stride(info.format, info.width), info.rate_n,
               info.rate_d);
    preview_period = preview_period_for(info.rate_n);
    interlaced = info.interlaced != 0;
    write_modes();
    acknowledge_engines();
}

std::shared_ptr<video_capture::frame_t> video_capture::make_frame(int stream) {
    auto frame = std::make_shared<frame_t>();
    const bool preview = stream == 1;
    frame->stream = stream;
    frame->format = format;
    frame->block = preview ? preview_block : full_block;
    frame->width = preview ? geometry.preview_width : geometry.full_width;
    frame->height = preview ? geometry.preview_height : geometry.full_height;
    frame->stride = preview ? geometry.preview_stride : geometry.full_stride;
    frame->rate_n = rate_n;
    frame->rate_d = rate_d;
    frame->timecode = 0;
    if (interlaced)
        frame->field = (hw->read8(full_block, 0, 1) & kFieldBit) != 0 ? 0 : 1;
    else
        frame->field = 2;
    if (preview && !geometry.preview_enabled)
        frame->address = no_buffer;
    else
        frame->address = ring.alloc(static_cast<uint32_t>(frame->width) * static_cast<uint32_t>(frame->height) * 2);
    return frame;
}

std::shared_ptr<video_capture::frame_pair_t> video_capture::make_frame_pair() {
    auto pair = std::make_shared<frame_pair_t>();
    pair->full = make_frame(0);
    ++preview_count;
    if (!preview_due(preview_count, preview_period, interlaced)) return pair;
    if (!full_only) pair->preview = make_frame(1);
    preview_count = 0;
    return pair;
}

void video_capture::arm(const frame_pair_t& pair) {
    for (uint32_t block : {full_block, preview_block})
        if ((hw->read32(block, 0) & kStateBits) == 1) hw->read32(block, 0);
    if (pair.full->address != no_buffer) hw->write32(full_block, kAddressReg, pair.full->address);
    if (pair.preview && geometry.preview_enabled && pair.preview->address != no_buffer)
        hw->write32(preview_block, kAddressReg, pair.preview->address);
}

void video_capture::kick(const frame_pair_t& pair) {
    // An engine is never started on a frame without a buffer: it would write wherever register 2 points.
    if (pair.full->address != no_buffer) hw->write8(full_block, 0, 0, kStart);
    if (pair.preview && geometry.preview_enabled && pair.preview->address != no_buffer)
        hw->write8(preview_block, 0, 0, kStart);
}

void video_capture::write_modes() {
    hw->write8(full_block, 0, 1, static_cast<uint8_t>(geometry.full_mode));
    hw->write8(preview_block, 0, 1, static_cast<uint8_t>(geometry.preview_mode));
}

void video_capture::acknowledge_engines() {
    hw->write8(full_block, 0, 3, kEvents);
    hw->write8(preview_block, 0, 3, kEvents);
}

bool video_capture::pause(std::chrono::milliseconds period) {
    std::unique_lock lock(enable_mutex);
    return !enable_cv.wait_for(lock, period, [this] { return stop.load(); });
}

bool video_capture::wait_for_enable() {
    std::unique_lock lock(enable_mutex);
    enable_cv.wait(lock, [this] { return enabled || stop; });
    return !stop;
}

bool video_capture::follow_signal(int64_t& seen_count) {
    std::lock_guard lock(signal_mutex);
    if (!signal.valid) return false;
    if (signal_count != seen_count) {
        apply_signal(signal);
        seen_count = signal_count;
    }
    return true;
}

bool video_capture::engines_idle() {
    return (hw->read32(full_block, 0) & kStateBits) == 0 && (hw->read32(preview_block, 0) & kStateBits) == 0 &&
           (hw->read8(full_block, 0, 3) & kEvents) == 0;
}

bool video_capture::wait_for_capture() {
    while (hw->wait_irq(hardware::vid_in, 200ms) < 0) {
        if (stop) return false;
        // A full engine gone idle will never interrupt (its input went away or changed):
        // give up on the pairs in flight so the next pass restarts the engines.
        if ((hw->read32(full_block, 0) & kStateBits) == 0) {
            hw->write8(full_block, 0, 3, kEvents);
            return false;
        }
    }
    return true;
}

void video_capture::capture_frames() {
    set_thread_name("vidcap");
    logAt(4, "video_capture::capture_frames thread\n");
    if (!set_realtime_priority(1)) logAt(2, "video_capture::capture_frames: Could not set thread priority!\n");
    for (uint32_t block : {full_block, preview_block}) {
        hw->write8(block, 0, 0, kReset);
        hw->write8(block, 0, 3, kEvents);
        hw->write32(block, 0, 0);
    }
    if (wait_for_enable()) {
        write_modes();
        hw->write8(full_block, 0, 2, kEvents);
        int64_t seen_count = -1;
        std::shared_ptr<frame_pair_t> current, next;
        while (!stop) {
            if (!follow_signal(seen_count)) {
                pause(100ms);
                continue;
            }
            if (engines_idle()) {
                next = make_frame_pair();
                arm(*next);
                kick(*next);
                logAt(3, "R");
            }
            hw->enable_irq(hardware::vid_in);
            current = next;
            next = make_frame_pair();
            arm(*next);
            kick(*next);
            if (!wait_for_capture()) {
                current.reset();
                next.reset();
                continue;
            }
            hw->write8(full_block, 0, 3, kEvents);
            if (!current) continue;
            current->full->timecode = timecode_now();
            if (current->preview) current->preview->timecode = current->full->timecode;
            logAt(3, ".");
            compressor->push(std::move(current));
        }
        current.reset();
        next.reset();
    }
    hw->write32(full_block, 0, 0);
    hw->write32(preview_block, 0, 0);
}
