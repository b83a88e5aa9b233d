// One sender of the NDI stand-in: what the application handed over, and what a local
// observer injects for it (receiver metadata, tally).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/ndi/ndi_rate_control.h"
#include "platform/ndi_types.h"

namespace sim {

class NdiStandInSender {
public:
    static constexpr size_t kMetadataBacklog = 64;  // injected frames waiting; the oldest goes first
    static constexpr int kMaxPayload = 64 << 20;    // larger frames are refused as corrupt

    enum Stream { full = 0, preview = 1 };

    struct VideoStream {
        uint64_t frames = 0;
        uint64_t bytes = 0;
        uint64_t refused = 0;    // bad descriptors (negative or huge sizes)
        uint64_t corrupted = 0;  // a payload that changed while the library still used it
        int quality = NdiRateControl::kStartQuality;
        int xres = 0, yres = 0, rate_n = 0, rate_d = 0;
        uint32_t fourcc = 0;
        ndi::frame_format format = ndi::frame_format::progressive;
        int64_t timecode = 0;
        std::vector<uint8_t> payload;  // copy of the latest frame
    };

    struct Audio {
        uint64_t frames = 0;
        uint64_t refused = 0;
        int sample_rate = 0, channels = 0, samples = 0, reference_level = 0;
        int64_t timecode = 0;
        std::vector<int32_t> data;  // copy of the latest frame, interleaved
    };

    NdiStandInSender(const ndi::send_create& create, const char* config_data);

    std::string name() const { return sourceName; }
    std::string configData() const { return config; }
    bool clockVideo() const { return clocks[0]; }
    bool clockAudio() const { return clocks[1]; }

    void addConnectionMetadata(const ndi::metadata_frame& frame);
    std::vector<std::string> connectionMetadata() const;

    int qFactor(const ndi::video_frame_v2& format);
    void sendVideo(const ndi::video_frame_v2& frame);
    void sendAudio(const ndi::audio_frame_interleaved_32s& frame);
    VideoStream video(Stream stream) const;
    Audio audio() const;

    // Receiver metadata: the observer injects, the application captures and frees.
    void injectMetadata(const std::string& xml);
    ndi::frame_type capture(ndi::metadata_frame& frame, std::chrono::milliseconds timeout);
    bool freeMetadata(const char* text);
    size_t metadataWaiting() const;
    size_t metadataOutstanding() const;
    uint64_t metadataDropped() const;
    // Frames the application took through NDIlib_send_capture.
    uint64_t metadataCaptured() const;

    void setTally(ndi::tally value);
    bool tally(ndi::tally& out, std::chrono::milliseconds timeout);

    // The sender goes away: waiters return, the held payloads are checked one last time.
    void close();
    bool isClosed() const;

    static Stream streamOf(uint32_t fourcc);
    static bool isSpeedHq(uint32_t fourcc);

private:
    struct Held {
        const uint8_t* data = nullptr;  // the application's buffer, still in use by the library
    };
    void checkHeld(Stream stream);

    const std::string sourceName;
    const std::string config;
    const bool clocks[2];

    mutable std::mutex mutex;
    std::condition_variable changed;
    bool closed = false;
    std::vector<std::string> connection;
    VideoStream streams[2];
    Held held[2];
    NdiRateControl rate[2];
    Audio lastAudio;
    std::deque<std::string> metadata;
    uint64_t dropped = 0;
    uint64_t captured = 0;
    std::map<const char*, std::unique_ptr<char[]>> outstanding;
    ndi::tally current, reported;
};

}  // namespace sim
