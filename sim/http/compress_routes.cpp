// Routes through which a local observer watches what the camera streams.
#include "sim/http/compress_routes.h"

#include <algorithm>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/media/speedhq_decoder.h"

namespace sim {

namespace {
std::string fourccText(uint32_t fourcc) {
    std::string text;
    for (int i = 0; i < 4; ++i) text += char((fourcc >> (8 * i)) & 0xff);
    return text;
}

StateApi::Reply frameReply(const std::shared_ptr<NdiStandIn>& ndi, NdiStandInSender::Stream stream, bool png) {
    StateApi::Reply reply;
    const auto sender = ndi->sender();
    const auto video = sender ? sender->video(stream) : NdiStandInSender::VideoStream{};
    if (video.payload.empty()) {
        reply.status = 404;
        reply.body = "no frame sent on this stream yet\n";
        return reply;
    }
    reply.headers = {{"X-FourCC", fourccText(video.fourcc)},
                     {"X-Width", std::to_string(video.xres)},
                     {"X-Height", std::to_string(video.yres)},
                     {"X-Frame-Rate", std::to_string(video.rate_n) + "/" + std::to_string(video.rate_d)},
                     {"X-Frame-Format", std::to_string(int(video.format))},
                     {"X-Timecode", std::to_string(video.timecode)}};
    if (!png) {
        reply.body.assign(video.payload.begin(), video.payload.end());
        reply.contentType = "application/octet-stream";
        return reply;
    }
    const auto picture = decodeSpeedHq(video.payload, video.fourcc, video.xres, video.yres);
    reply.body = picture ? encodePng(*picture) : std::string();
    if (reply.body.empty()) {
        reply.status = 422;
        reply.body = "the payload does not decode as SpeedHQ\n";
        return reply;
    }
    reply.contentType = "image/png";
    return reply;
}

uint64_t gap(uint64_t before, uint64_t after) { return before > after ? before - after : 0; }
}  // namespace

void addCompressRoutes(StateApi& api, std::shared_ptr<EncoderCores> cores, std::shared_ptr<NdiStandIn> ndi,
                       CaptureEngines& capture) {
    api.addReporter([cores, ndi, &capture](nlohmann::json& state) {
        cores->report(state);
        // Seen from outside the application: pictures captured but never coded, and pictures
        // coded whole but never sent (a few in flight show here too).
        const auto counted = cores->counters();
        const uint64_t captured = capture.full().counters().captured + capture.preview().counters().captured;
        const auto sender = ndi->sender();
        const uint64_t sent = sender ? sender->video(NdiStandInSender::full).frames +
                                           sender->video(NdiStandInSender::preview).frames
                                     : 0;
        state["compress"]["drops"] = {{"capture", gap(captured, counted.frames)},
                                      {"send", gap(counted.frames - counted.overflows, sent)}};
    });
    const struct {
        const char* path;
        NdiStandInSender::Stream stream;
        bool png;
    } routes[] = {{"/ndi/video/full", NdiStandInSender::full, false},
                  {"/ndi/video/preview", NdiStandInSender::preview, false},
                  {"/ndi/video/full.png", NdiStandInSender::full, true},
                  {"/ndi/video/preview.png", NdiStandInSender::preview, true}};
    for (const auto& r : routes)
        api.addGet(r.path, [ndi, stream = r.stream, png = r.png] { return frameReply(ndi, stream, png); });
}

}  // namespace sim
