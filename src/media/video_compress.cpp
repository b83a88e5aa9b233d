// The compressor's life, its intake from the capture thread and the "vidcomp" thread that drives
// the encoder cores one picture at a time.
#include "media/video_compress.h"

#include <cstdio>

#include "base/log.h"
#include "hw/hardware.h"
#include "hw/realtime.h"
#include "media/compressed_frame_record.h"
#include "media/network_send.h"
#include "media/slice_assembly.h"
#include "media/speedhq_tables.h"
#include "platform/ndi_types.h"
#include "platform/thread_name.h"

namespace {
constexpr uint32_t core_regs = 64;  // core c uses registers 64 c + r
constexpr uint32_t reg_control = 0, reg_table = 2, reg_job = 3, reg_source = 4, reg_output = 5, reg_width = 6,
                   reg_height = 7, reg_stride = 8, reg_sizes = 11, reg_present = 15;
// A stalled core must not keep the thread from its stop: the interrupt wait runs in slices.
constexpr std::chrono::milliseconds irq_slice{200};

uint32_t reg(int core, uint32_t r) { return core_regs * uint32_t(core) + r; }
}  // namespace

video_compress::video_compress(std::shared_ptr<hardware> hw_, std::shared_ptr<network_send> sender_)
    : hw(std::move(hw_)),
      sender(std::move(sender_)),
      out(hw->layout().get_area(0).offset, hw->layout().get_area(0).size) {
    logAt(4, "video_compress Constructor\n");
    count_cores();
    logAt(4, "Found %i encoder cores\n", cores);
    compress_thread = std::thread(&video_compress::compress_frames, this);
    copy_thread = std::thread(&video_compress::copy_frames, this);
    full_thread = std::thread(&video_compress::send_frames, this, 0);
    preview_thread = std::thread(&video_compress::send_frames, this, 1);
}

video_compress::~video_compress() {
    logAt(4, "\n video_compress Destructor\n");
    std::fflush(stdout);
    stopping = true;
    enqueue_stop(nullptr);  // not through push: a compressor never enabled must stop too
    compress_thread.join();
    queue_for_send(nullptr);
    copy_thread.join();
    dispatch(nullptr);
    full_thread.join();
    preview_thread.join();
}

void video_compress::count_cores() {
    if (hw->read32(block, reg(3, reg_present)) != 0)
        cores = 4;
    else if (hw->read32(block, reg(1, reg_present)) != 0)
        cores = 2;
    else
        cores = 1;
}

void video_compress::enable() {
    std::lock_guard lock(capture_mutex);
    enabled = true;
}

bool video_compress::push(std::shared_ptr<video_capture::frame_pair_t> pair) {
    std::lock_guard lock(capture_mutex);
    if (!enabled) return true;
    if (pair) {
        ++pairs;
        if (pair->preview) ++previews;
        latest = std::make_shared<video_capture::frame_pair_t>(*pair);  // the compressor empties its own
    }
    logAt(5, pair && pair->preview ? "b" : "q");
    capture_queue.push_back(std::move(pair));
    while (capture_queue.size() >= queue_limit) {
        capture_queue.pop_front();
        ++dropped_capture;
        logAt(2, "!");
    }
    capture_cv.notify_one();
    return capture_queue.size() != 3;
}

void video_compress::enqueue_stop(std::shared_ptr<video_capture::frame_pair_t> pair) {
    std::lock_guard lock(capture_mutex);
    capture_queue.push_back(std::move(pair));
    while (capture_queue.size() >= queue_limit) {
        capture_queue.pop_front();
        ++dropped_capture;
        logAt(2, "!");
    }
    capture_cv.notify_one();
}

video_compress::drop_counts video_compress::drops() const {
    return {dropped_capture.load(), dropped_copy.load(), dropped_full.load(), dropped_preview.load()};
}

uint64_t video_compress::pairs_received() const {
    std::lock_guard lock(capture_mutex);
    return pairs;
}

uint64_t video_compress::previews_received() const {
    std::lock_guard lock(capture_mutex);
    return previews;
}

std::shared_ptr<video_capture::frame_pair_t> video_compress::latest_pair() const {
    std::lock_guard lock(capture_mutex);
    return latest;
}

void video_compress::set_up_cores() {
    for (int c = 0; c < cores; ++c) hw->write8(block, reg(c, reg_control), 3, 0xc0);
    for (int c = 0; c < cores; ++c) hw->write32(block, reg(c, reg_control), 0);
    hw->enable_irq(hardware::ndi_enc);
    for (int c = 0; c < cores; ++c) hw->write8(block, reg(c, reg_control), 2, 0xc0);
}

bool video_compress::wait_for_cores() {
    while (hw->wait_irq(hardware::ndi_enc, irq_slice) < 0)
        if (stopping) return false;
    return true;
}

void video_compress::compress_frames() {
    set_thread_name("vidcomp");
    logAt(4, "compress_frames thread\n");
    if (!set_realtime_priority(0)) logAt(2, "video_compress::compress_frames: Could not set thread priority!\n");
    set_up_cores();
    std::shared_ptr<video_capture::frame_pair_t> pair;
    for (;;) {
        if (!pair) {
            std::unique_lock lock(capture_mutex);
            capture_cv.wait(lock, [this] { return !capture_queue.empty(); });
            pair = std::move(capture_queue.front());
            capture_queue.pop_front();
            lock.unlock();
            if (!pair) break;
            logAt(5, pair->preview ? "P" : "p");
        }
        auto picked = pair->full ? std::move(pair->full) : std::move(pair->preview);
        auto frame = picked ? prepare(*picked) : nullptr;
        if (!frame) {
            pair.reset();
            continue;
        }
        start_cores();
        logAt(5, "C");
        if (!wait_for_cores()) break;  // a core never finished and the compressor is going away
        for (int c = 0; c < cores; ++c) hw->write8(block, reg(c, reg_control), 3, 0xc0);
        logAt(3, "+");
        hw->enable_irq(hardware::ndi_enc);
        const bool whole = collect(*frame) == 0;
        // The preview copy is taken before the frame goes: the copy thread writes into it.
        auto copy = finish_pair(pair, *frame, whole);
        if (whole) queue_for_send(std::move(frame));
        if (copy) queue_for_send(std::move(copy));
    }
    logAt(4, "compress_frames thread done!\n");
}

namespace {
ndi::video_frame_v2 describe(int width, int height, uint32_t fourcc, int rate_n, int rate_d) {
    ndi::video_frame_v2 d;
    d.xres = width;
    d.yres = height;
    d.FourCC = fourcc;
    d.frame_rate_N = rate_n;
    d.frame_rate_D = rate_d;
    d.frame_format_type = ndi::frame_format::progressive;
    return d;
}
}  // namespace

void video_compress::query_target_size(int s, const video_capture::frame_t& captured, uint32_t fourcc) {
    auto& st = streams[size_t(s)];
    if (captured.width == st.width && captured.height == st.height && captured.rate_n == st.rate_n &&
        captured.rate_d == st.rate_d)
        return;
    auto d = describe(captured.width, captured.height, fourcc, captured.rate_n, captured.rate_d);
    d.picture_aspect_ratio = 0.0f;
    d.timecode = ndi::timecode_synthesize;
    st.target_size = sender ? sender->library().NDIlib_send_get_target_frame_size(sender->handle(), &d) : 0;
    st.width = captured.width;
    st.height = captured.height;
    st.rate_n = captured.rate_n;
    st.rate_d = captured.rate_d;
    logAt(4, "Frame size: %i\n", st.target_size);
}

std::shared_ptr<video_compress::frame_t> video_compress::prepare(const video_capture::frame_t& captured) {
    const int s = captured.stream != 0 ? 1 : 0;
    auto frame = make_compressed_record(captured);
    query_target_size(s, captured, frame->fourcc);

    const uint32_t n = output_ring::slice_bytes(frame->width, frame->height);
    frame->core_area = n * uint32_t(4 / cores);
    frame->out_offset = out.alloc(uint64_t{n} * 4);
    if (frame->out_offset == output_ring::no_area) {
        logAt(2, "video_compress: no output area for %ix%i\n", frame->width, frame->height);
        return nullptr;
    }

    auto& st = streams[size_t(s)];
    if ((frame->field == 0 || frame->field == 2) && sender) {
        auto d = describe(frame->width, frame->height, frame->fourcc, frame->rate_n, frame->rate_d);
        d.picture_aspect_ratio = 16.0f / 9.0f;
        d.timecode = frame->timecode;
        const int q = sender->library().NDIlib_send_get_q_factor(sender->handle(), &d);
        if (q >= 0) st.stream_quality = q;  // -1: the library has no quality for this format
    }
    // 100 would divide by zero in the table and the decoder rejects it.
    st.stream_quality = speedhq::clamp_quality(st.stream_quality);
    set_quality(*frame, st.stream_quality);
    program_cores(*frame, captured.address);
    return frame;
}

void video_compress::set_quality(frame_t& frame, int q) {
    frame.quality = q;
    int slot = slots.find(q);
    if (slot < 0) {
        slot = slots.claim(q);
        load_table(slot, q);
        logAt(3, "Q%i:%i", q, slot);
    }
    frame.qslot = slot;
}

void video_compress::load_table(int slot, int q) {
    const auto table = speedhq::table_for(q);
    for (int i = 0; i < 64; ++i)
        for (int c = 0; c < cores; ++c)
            hw->write32(block, reg(c, reg_table), speedhq::table_word(slot, i, table[size_t(i)]));
}

void video_compress::program_cores(const frame_t& frame, uint32_t source) {
    const int k = 4 / cores;
    uint32_t a = hw->bus_address(frame.out_offset);
    for (int c = 0; c < cores; ++c) {
        hw->write32(block, reg(c, reg_job),
                    speedhq::control_word(frame.qslot, c * k, c * k + k - 1, frame.is_420, frame.pad_width));
        hw->write32(block, reg(c, reg_source), source);
        hw->write32(block, reg(c, reg_output), a);
        hw->write32(block, reg(c, reg_width), uint32_t(frame.width));
        hw->write32(block, reg(c, reg_height), uint32_t(frame.height));
        hw->write32(block, reg(c, reg_stride), uint32_t(frame.stride));
        a += frame.core_area;
    }
}

void video_compress::start_cores() {
    for (int c = 0; c < cores; ++c) hw->write8(block, reg(c, reg_control), 0, 1);
}

int video_compress::collect(frame_t& frame) {
    const int k = 4 / cores;
    std::array<uint32_t, 4> produced{};
    for (int i = 0; i < 4; ++i) produced[size_t(i)] = hw->read32(block, reg(i / k, reg_sizes + uint32_t(i)));
    return slice_assembly::collect(frame, produced, cores, static_cast<uint8_t*>(hw->host_address(frame.out_offset)));
}

std::shared_ptr<video_compress::frame_t> video_compress::finish_pair(
    std::shared_ptr<video_capture::frame_pair_t>& pair, const frame_t& done, bool whole) {
    if (!pair->preview) {
        pair.reset();
        return nullptr;
    }
    if (pair->preview->address != video_capture::no_buffer) return nullptr;  // its own picture comes next pass
    // The preview engine is off and the preview is the full picture: send the same slices again,
    // but not after an overflow, when the slices are incomplete.
    std::shared_ptr<frame_t> copy;
    if (whole) {
        copy = make_compressed_record(*pair->preview);
        copy->quality = done.quality;
        copy->qslot = done.qslot;
        copy->out_offset = done.out_offset;
        copy->core_area = done.core_area;
        for (int i = 0; i < 4; ++i) {
            copy->slice_len[i] = done.slice_len[i];
            copy->slice_ptr[i] = done.slice_ptr[i];
            copy->header[i] = done.header[i];
            copy->trailer[i] = done.trailer[i];
        }
        copy->size = done.size;
    }
    pair.reset();
    return copy;
}
