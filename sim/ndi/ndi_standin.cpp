// The stand-in NDI library: handles, argument checks and the observer's view.
#include "sim/ndi/ndi_standin.h"

#include <nlohmann/json.hpp>

namespace sim {

using namespace std::chrono;

NdiStandIn::NdiStandIn(bool available_) : available(available_) {}

NdiStandIn::~NdiStandIn() {
    for (auto& [handle, sender] : senders) sender->close();
}

bool NdiStandIn::NDIlib_initialize() {
    if (!available) return false;
    ++initializations;
    return true;
}

void NdiStandIn::NDIlib_destroy() {
    int count = initializations.load();
    while (count > 0 && !initializations.compare_exchange_weak(count, count - 1)) {
    }
    if (count == 0) ++misuses;
}

std::shared_ptr<NdiStandInSender> NdiStandIn::find(ndi::send_instance instance) {
    std::lock_guard lock(mutex);
    const auto found = senders.find(instance);
    if (found != senders.end()) return found->second;
    ++misuses;
    return nullptr;
}

ndi::send_instance NdiStandIn::NDIlib_send_create_v2(const ndi::send_create* create, const char* config_data) {
    if (create == nullptr || initializations.load() == 0) {
        ++misuses;
        return nullptr;
    }
    auto sender = std::make_shared<NdiStandInSender>(*create, config_data);
    // The handle is the sender's address; calls look it up, so a stale handle is caught.
    auto handle = reinterpret_cast<ndi::send_instance>(sender.get());
    std::lock_guard lock(mutex);
    sender->setTally(tally);
    senders.emplace(handle, sender);
    newest = std::move(sender);
    return handle;
}

void NdiStandIn::NDIlib_send_destroy(ndi::send_instance instance) {
    std::shared_ptr<NdiStandInSender> gone;
    {
        std::lock_guard lock(mutex);
        const auto found = senders.find(instance);
        if (found == senders.end()) {
            ++misuses;
            return;
        }
        gone = std::move(found->second);
        senders.erase(found);  // `newest` stays, so the observer still sees what was sent last
    }
    gone->close();
}

void NdiStandIn::NDIlib_send_add_connection_metadata(ndi::send_instance instance,
                                                     const ndi::metadata_frame* metadata) {
    auto sender = find(instance);
    if (!sender || metadata == nullptr) return;
    sender->addConnectionMetadata(*metadata);
}

int NdiStandIn::NDIlib_send_get_target_frame_size(ndi::send_instance instance, const ndi::video_frame_v2* frame) {
    if (!find(instance) || frame == nullptr) return 0;
    return NdiRateControl::targetFrameSize(*frame);
}

int NdiStandIn::NDIlib_send_get_q_factor(ndi::send_instance instance, const ndi::video_frame_v2* frame) {
    auto sender = find(instance);
    if (!sender || frame == nullptr) return -1;
    return sender->qFactor(*frame);
}

void NdiStandIn::NDIlib_send_send_video_async_v2(ndi::send_instance instance, const ndi::video_frame_v2* frame) {
    auto sender = find(instance);
    // A null frame only asks to wait for the previous one: the stand-in never keeps the caller waiting.
    if (sender && frame != nullptr) sender->sendVideo(*frame);
}

void NdiStandIn::NDIlib_util_send_send_audio_interleaved_32s(ndi::send_instance instance,
                                                             const ndi::audio_frame_interleaved_32s* frame) {
    auto sender = find(instance);
    if (sender && frame != nullptr) sender->sendAudio(*frame);
}

ndi::frame_type NdiStandIn::NDIlib_send_capture(ndi::send_instance instance, ndi::metadata_frame* metadata,
                                                uint32_t timeout_ms) {
    auto sender = find(instance);
    if (!sender || metadata == nullptr) return ndi::frame_type::error;
    return sender->capture(*metadata, milliseconds(timeout_ms));
}

void NdiStandIn::NDIlib_send_free_metadata(ndi::send_instance instance, const ndi::metadata_frame* metadata) {
    auto sender = find(instance);
    if (!sender || metadata == nullptr || !sender->freeMetadata(metadata->p_data)) ++misuses;
}

bool NdiStandIn::NDIlib_send_get_tally(ndi::send_instance instance, ndi::tally* tally_, uint32_t timeout_ms) {
    auto sender = find(instance);
    if (!sender || tally_ == nullptr) return false;
    return sender->tally(*tally_, milliseconds(timeout_ms));
}

std::shared_ptr<NdiStandInSender> NdiStandIn::sender() const {
    std::lock_guard lock(mutex);
    return newest;
}

bool NdiStandIn::injectMetadata(const std::string& xml) {
    auto target = sender();
    if (!target || target->isClosed()) return false;
    target->injectMetadata(xml);
    return true;
}

void NdiStandIn::setTally(bool program, bool preview) {
    std::lock_guard lock(mutex);
    tally = {program, preview};
    for (auto& [handle, sender] : senders) sender->setTally(tally);
}

void NdiStandIn::report(nlohmann::json& state) const {
    auto& ndi = state["ndi"];
    ndi["initialized"] = initializations.load();
    ndi["misuse"] = misuses.load();
    const auto s = sender();
    ndi["sender"] = s ? nlohmann::json(s->name()) : nlohmann::json(nullptr);
    ndi["sender_live"] = s && !s->isClosed();
    ndi["connection_metadata"] = s ? s->connectionMetadata() : std::vector<std::string>{};
    const NdiStandInSender::Stream streams[] = {NdiStandInSender::full, NdiStandInSender::preview};
    const char* names[] = {"full", "preview"};
    for (int i = 0; i < 2; ++i) {
        const auto v = s ? s->video(streams[i]) : NdiStandInSender::VideoStream{};
        ndi["video_frames"][names[i]] = v.frames;
        ndi["video_bytes"][names[i]] = v.bytes;
        ndi["video_corrupted"][names[i]] = v.corrupted;
        ndi["quality"][names[i]] = v.quality;
        ndi["video_format"][names[i]] = {{"xres", v.xres}, {"yres", v.yres}, {"rate_n", v.rate_n},
                                         {"rate_d", v.rate_d}, {"frame_format", int(v.format)}};
    }
    const auto a = s ? s->audio() : NdiStandInSender::Audio{};
    ndi["audio_frames"] = a.frames;
    ndi["audio"] = {{"sample_rate", a.sample_rate}, {"channels", a.channels}, {"samples", a.samples},
                    {"reference_level", a.reference_level}};
    ndi["metadata"] = {{"waiting", s ? s->metadataWaiting() : 0}, {"outstanding", s ? s->metadataOutstanding() : 0},
                       {"dropped", s ? s->metadataDropped() : 0}};
    ndi["metadata_frames"] = s ? s->metadataCaptured() : 0;
    std::lock_guard lock(mutex);
    ndi["tally"] = {{"program", tally.on_program}, {"preview", tally.on_preview}};
}

}  // namespace sim
