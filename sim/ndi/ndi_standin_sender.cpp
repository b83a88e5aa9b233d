// The stand-in sender's bookkeeping: frames kept and counted, rate control, metadata and tally.
#include "sim/ndi/ndi_standin_sender.h"

#include <cctype>
#include <cstring>

#include "hw/timecode.h"

namespace sim {

namespace {
std::string text(const char* value) { return value != nullptr ? value : ""; }

// Bytes a frame's payload takes: compressed frames carry their size, raw ones a stride.
int64_t payloadBytes(const ndi::video_frame_v2& frame) {
    if (NdiStandInSender::isSpeedHq(frame.FourCC)) return frame.data_size_in_bytes;
    return int64_t{frame.line_stride_in_bytes} * frame.yres;
}
}  // namespace

NdiStandInSender::NdiStandInSender(const ndi::send_create& create, const char* config_data)
    : sourceName(text(create.p_ndi_name)), config(text(config_data)), clocks{create.clock_video, create.clock_audio} {}

bool NdiStandInSender::isSpeedHq(uint32_t fourcc) {
    const auto letter = [fourcc](int i, char upper) { return std::toupper(int((fourcc >> (8 * i)) & 0xff)) == upper; };
    return letter(0, 'S') && letter(1, 'H') && letter(2, 'Q');
}

NdiStandInSender::Stream NdiStandInSender::streamOf(uint32_t fourcc) {
    return std::islower(int(fourcc & 0xff)) ? preview : full;
}

void NdiStandInSender::addConnectionMetadata(const ndi::metadata_frame& frame) {
    if (frame.p_data == nullptr) return;
    const size_t length = frame.length > 0 ? strnlen(frame.p_data, size_t(frame.length)) : std::strlen(frame.p_data);
    std::lock_guard lock(mutex);
    connection.emplace_back(frame.p_data, length);
}

std::vector<std::string> NdiStandInSender::connectionMetadata() const {
    std::lock_guard lock(mutex);
    return connection;
}

int NdiStandInSender::qFactor(const ndi::video_frame_v2& format) {
    if (!isSpeedHq(format.FourCC)) return -1;
    const Stream s = streamOf(format.FourCC);
    std::lock_guard lock(mutex);
    streams[s].quality = rate[s].quality(format);
    return streams[s].quality;
}

void NdiStandInSender::checkHeld(Stream s) {
    // The runtime may still be reading the previous payload: it must be intact (and alive).
    const auto& kept = streams[s].payload;
    if (held[s].data != nullptr && !kept.empty() && std::memcmp(held[s].data, kept.data(), kept.size()) != 0)
        ++streams[s].corrupted;
    held[s].data = nullptr;
}

void NdiStandInSender::sendVideo(const ndi::video_frame_v2& frame) {
    const Stream s = streamOf(frame.FourCC);
    const int64_t bytes = frame.p_data != nullptr ? payloadBytes(frame) : 0;
    std::lock_guard lock(mutex);
    VideoStream& v = streams[s];
    checkHeld(s);
    if (bytes < 0 || bytes > kMaxPayload) {
        ++v.refused;
        v.payload.clear();
        return;
    }
    ++v.frames;
    v.bytes += uint64_t(bytes);
    v.xres = frame.xres;
    v.yres = frame.yres;
    v.rate_n = frame.frame_rate_N;
    v.rate_d = frame.frame_rate_D;
    v.fourcc = frame.FourCC;
    v.format = frame.frame_format_type;
    v.timecode = frame.timecode;
    v.payload.assign(frame.p_data, frame.p_data + bytes);
    held[s].data = frame.p_data;
    rate[s].frameSent(int(bytes));
}

void NdiStandInSender::sendAudio(const ndi::audio_frame_interleaved_32s& frame) {
    constexpr int kMaxChannels = 64, kMaxSamples = 1 << 20;
    std::lock_guard lock(mutex);
    if (frame.no_channels <= 0 || frame.no_channels > kMaxChannels || frame.no_samples < 0 ||
        frame.no_samples > kMaxSamples || (frame.p_data == nullptr && frame.no_samples > 0)) {
        ++lastAudio.refused;
        return;
    }
    ++lastAudio.frames;
    lastAudio.sample_rate = frame.sample_rate;
    lastAudio.channels = frame.no_channels;
    lastAudio.samples = frame.no_samples;
    lastAudio.reference_level = frame.reference_level;
    lastAudio.timecode = frame.timecode;
    const size_t count = size_t(frame.no_channels) * size_t(frame.no_samples);
    lastAudio.data.assign(frame.p_data, frame.p_data + count);
}

NdiStandInSender::VideoStream NdiStandInSender::video(Stream stream) const {
    std::lock_guard lock(mutex);
    return streams[stream];
}

NdiStandInSender::Audio NdiStandInSender::audio() const {
    std::lock_guard lock(mutex);
    return lastAudio;
}

void NdiStandInSender::injectMetadata(const std::string& xml) {
    {
        std::lock_guard lock(mutex);
        metadata.push_back(xml);
        while (metadata.size() > kMetadataBacklog) {
            metadata.pop_front();
            ++dropped;
        }
    }
    changed.notify_all();
}

ndi::frame_type NdiStandInSender::capture(ndi::metadata_frame& frame, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    if (!changed.wait_for(lock, timeout, [this] { return closed || !metadata.empty(); }) || metadata.empty())
        return ndi::frame_type::none;
    const std::string xml = std::move(metadata.front());
    metadata.pop_front();
    auto copy = std::make_unique<char[]>(xml.size() + 1);
    std::memcpy(copy.get(), xml.c_str(), xml.size() + 1);
    frame.length = int(xml.size());
    frame.timecode = timecode_now();
    frame.p_data = copy.get();
    outstanding.emplace(copy.get(), std::move(copy));
    ++captured;
    return ndi::frame_type::metadata;
}

bool NdiStandInSender::freeMetadata(const char* text) {
    std::lock_guard lock(mutex);
    return outstanding.erase(text) == 1;
}

size_t NdiStandInSender::metadataWaiting() const {
    std::lock_guard lock(mutex);
    return metadata.size();
}

uint64_t NdiStandInSender::metadataCaptured() const {
    std::lock_guard lock(mutex);
    return captured;
}

size_t NdiStandInSender::metadataOutstanding() const {
    std::lock_guard lock(mutex);
    return outstanding.size();
}

uint64_t NdiStandInSender::metadataDropped() const {
    std::lock_guard lock(mutex);
    return dropped;
}

void NdiStandInSender::setTally(ndi::tally value) {
    {
        std::lock_guard lock(mutex);
        current = value;
    }
    changed.notify_all();
}

bool NdiStandInSender::tally(ndi::tally& out, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    const auto differs = [this] {
        return current.on_program != reported.on_program || current.on_preview != reported.on_preview;
    };
    const bool change = changed.wait_for(lock, timeout, [&] { return closed || differs(); }) && differs();
    reported = current;
    out = current;
    return change;
}

bool NdiStandInSender::isClosed() const {
    std::lock_guard lock(mutex);
    return closed;
}

void NdiStandInSender::close() {
    {
        std::lock_guard lock(mutex);
        closed = true;
        checkHeld(full);
        checkHeld(preview);
    }
    changed.notify_all();
}

}  // namespace sim
