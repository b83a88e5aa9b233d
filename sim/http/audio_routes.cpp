// Routes through which a local observer sets the audio input and hears what the camera sends.
#include "sim/http/audio_routes.h"

#include <string>

#include <nlohmann/json.hpp>

#include "sim/http/body_text.h"

namespace sim {

namespace {
std::string littleEndian(const std::vector<int32_t>& samples) {
    std::string bytes;
    bytes.reserve(samples.size() * 4);
    for (const int32_t sample : samples) {
        const auto word = static_cast<uint32_t>(sample);
        for (int i = 0; i < 4; ++i) bytes += static_cast<char>((word >> (8 * i)) & 0xff);
    }
    return bytes;
}

StateApi::Reply latestAudio(const std::shared_ptr<NdiStandIn>& ndi) {
    StateApi::Reply reply;
    const auto sender = ndi->sender();
    const auto audio = sender ? sender->audio() : NdiStandInSender::Audio{};
    if (audio.frames == 0) {
        reply.status = 404;
        reply.body = "no audio frame sent yet\n";
        return reply;
    }
    reply.headers = {{"X-Sample-Rate", std::to_string(audio.sample_rate)},
                     {"X-Channels", std::to_string(audio.channels)},
                     {"X-Samples", std::to_string(audio.samples)},
                     {"X-Timecode", std::to_string(audio.timecode)},
                     {"X-Reference-Level", std::to_string(audio.reference_level)}};
    reply.body = littleEndian(audio.data);
    reply.contentType = "application/octet-stream";
    return reply;
}
}  // namespace

void addAudioRoutes(StateApi& api, std::shared_ptr<AudioBlock> block, std::shared_ptr<NdiStandIn> ndi) {
    api.addReporter([block](nlohmann::json& state) { block->report(state); });
    api.addPost("/audio", [block](const StateApi::Params&, const std::string& body, std::string& reply) {
        const auto rate = AudioBlock::parseRate(trimmedBody(body));
        if (!rate) {
            reply = "audio rate must be 48000, 44100, 32000, 96000 or none\n";
            return 400;
        }
        block->setRate(*rate);
        reply = trimmedBody(body) + "\n";
        return 200;
    });
    api.addGet("/ndi/audio", [ndi] { return latestAudio(ndi); });
}

}  // namespace sim
