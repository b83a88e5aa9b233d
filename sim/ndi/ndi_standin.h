// The simulator's NDI library: implements the calls the camera makes, keeps what it is
// given for a local observer, and takes receiver metadata and tally from that observer.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include <nlohmann/json_fwd.hpp>

#include "sim/ndi/ndi_standin_sender.h"
#include "platform/ndi_library.h"

namespace sim {

class NdiStandIn : public platform::NdiLibrary {
public:
    // `available` false makes NDIlib_initialize fail, as on a camera without the runtime.
    explicit NdiStandIn(bool available = true);
    ~NdiStandIn() override;

    bool NDIlib_initialize() override;
    void NDIlib_destroy() override;
    ndi::send_instance NDIlib_send_create_v2(const ndi::send_create* create, const char* config_data) override;
    void NDIlib_send_destroy(ndi::send_instance instance) override;
    void NDIlib_send_add_connection_metadata(ndi::send_instance instance, const ndi::metadata_frame* metadata) override;
    int NDIlib_send_get_target_frame_size(ndi::send_instance instance, const ndi::video_frame_v2* frame) override;
    int NDIlib_send_get_q_factor(ndi::send_instance instance, const ndi::video_frame_v2* frame) override;
    void NDIlib_send_send_video_async_v2(ndi::send_instance instance, const ndi::video_frame_v2* frame) override;
    void NDIlib_util_send_send_audio_interleaved_32s(ndi::send_instance instance,
                                                     const ndi::audio_frame_interleaved_32s* frame) override;
    ndi::frame_type NDIlib_send_capture(ndi::send_instance instance, ndi::metadata_frame* metadata,
                                        uint32_t timeout_ms) override;
    void NDIlib_send_free_metadata(ndi::send_instance instance, const ndi::metadata_frame* metadata) override;
    bool NDIlib_send_get_tally(ndi::send_instance instance, ndi::tally* tally, uint32_t timeout_ms) override;

    // The observer's side. The newest sender, kept after it is destroyed; null before the first.
    std::shared_ptr<NdiStandInSender> sender() const;
    // Metadata as if a connected receiver sent it; false when no sender is live.
    bool injectMetadata(const std::string& xml);
    // Tally of the receivers; kept for senders created later.
    void setTally(bool program, bool preview);
    int initialized() const { return initializations.load(); }
    uint64_t misuse() const { return misuses.load(); }

    // The `ndi` keys of GET /state.
    void report(nlohmann::json& state) const;

private:
    std::shared_ptr<NdiStandInSender> find(ndi::send_instance instance);

    const bool available;
    std::atomic<int> initializations{0};
    std::atomic<uint64_t> misuses{0};  // calls with unknown handles or null records
    mutable std::mutex mutex;
    std::map<ndi::send_instance, std::shared_ptr<NdiStandInSender>> senders;
    std::shared_ptr<NdiStandInSender> newest;
    ndi::tally tally;
};

}  // namespace sim
