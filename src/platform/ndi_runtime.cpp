// Opening libndi.so.5 and forwarding the twelve calls to it.
#include "platform/ndi_runtime.h"

#include <dlfcn.h>

#include <cstdlib>
#include <vector>

namespace platform {

// C function types: the runtime exports plain C symbols.
extern "C" {
using ndi_initialize_fn = bool();
using ndi_destroy_fn = void();
using ndi_send_create_fn = ndi::send_instance(const ndi::send_create*, const char*);
using ndi_send_destroy_fn = void(ndi::send_instance);
using ndi_add_metadata_fn = void(ndi::send_instance, const ndi::metadata_frame*);
using ndi_frame_query_fn = int(ndi::send_instance, const ndi::video_frame_v2*);
using ndi_send_video_fn = void(ndi::send_instance, const ndi::video_frame_v2*);
using ndi_send_audio_fn = void(ndi::send_instance, const ndi::audio_frame_interleaved_32s*);
using ndi_capture_fn = ndi::frame_type(ndi::send_instance, ndi::metadata_frame*, uint32_t);
using ndi_free_metadata_fn = void(ndi::send_instance, const ndi::metadata_frame*);
using ndi_get_tally_fn = bool(ndi::send_instance, ndi::tally*, uint32_t);
}

struct NdiRuntime::Calls {
    ndi_initialize_fn* initialize = nullptr;
    ndi_destroy_fn* destroy = nullptr;
    ndi_send_create_fn* send_create_v2 = nullptr;
    ndi_send_destroy_fn* send_destroy = nullptr;
    ndi_add_metadata_fn* add_connection_metadata = nullptr;
    ndi_frame_query_fn* get_target_frame_size = nullptr;
    ndi_frame_query_fn* get_q_factor = nullptr;
    ndi_send_video_fn* send_video_async_v2 = nullptr;
    ndi_send_audio_fn* send_audio_interleaved_32s = nullptr;
    ndi_capture_fn* capture = nullptr;
    ndi_free_metadata_fn* free_metadata = nullptr;
    ndi_get_tally_fn* get_tally = nullptr;
};

namespace {
template <typename Function>
bool resolve(void* handle, const char* name, Function*& call, std::vector<std::string>& missing) {
    call = reinterpret_cast<Function*>(dlsym(handle, name));
    if (call == nullptr) missing.emplace_back(name);
    return call != nullptr;
}
}  // namespace

NdiRuntime::NdiRuntime(Token, void* handle_, std::string path_, std::unique_ptr<Calls> calls_)
    : handle(handle_), file(std::move(path_)), calls(std::move(calls_)) {}

NdiRuntime::~NdiRuntime() { dlclose(handle); }

std::shared_ptr<NdiRuntime> NdiRuntime::load(const std::string& path, std::string& error) {
    bool opened = false;
    return open(path, error, opened);
}

std::shared_ptr<NdiRuntime> NdiRuntime::open(const std::string& path, std::string& error, bool& opened) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    opened = handle != nullptr;
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : path + ": cannot be opened";
        return nullptr;
    }
    auto calls = std::make_unique<Calls>();
    std::vector<std::string> missing;
    // The advanced calls are not in the runtime's function table: every call goes by name.
    resolve(handle, "NDIlib_initialize", calls->initialize, missing);
    resolve(handle, "NDIlib_destroy", calls->destroy, missing);
    resolve(handle, "NDIlib_send_create_v2", calls->send_create_v2, missing);
    resolve(handle, "NDIlib_send_destroy", calls->send_destroy, missing);
    resolve(handle, "NDIlib_send_add_connection_metadata", calls->add_connection_metadata, missing);
    resolve(handle, "NDIlib_send_get_target_frame_size", calls->get_target_frame_size, missing);
    resolve(handle, "NDIlib_send_get_q_factor", calls->get_q_factor, missing);
    resolve(handle, "NDIlib_send_send_video_async_v2", calls->send_video_async_v2, missing);
    resolve(handle, "NDIlib_util_send_send_audio_interleaved_32s", calls->send_audio_interleaved_32s, missing);
    resolve(handle, "NDIlib_send_capture", calls->capture, missing);
    resolve(handle, "NDIlib_send_free_metadata", calls->free_metadata, missing);
    resolve(handle, "NDIlib_send_get_tally", calls->get_tally, missing);
    if (!missing.empty()) {
        error = path + " lacks";
        for (const auto& name : missing) error += " " + name;
        dlclose(handle);
        return nullptr;
    }
    return std::make_shared<NdiRuntime>(Token{}, handle, path, std::move(calls));
}

std::shared_ptr<NdiRuntime> NdiRuntime::find(std::string& error) {
    std::vector<std::string> candidates;
    if (const char* dir = std::getenv("NDI_RUNTIME_DIR_V5"); dir != nullptr && *dir != '\0')
        candidates.push_back(std::string(dir) + "/" + kFileName);
    candidates.emplace_back(kFileName);
    candidates.push_back(std::string("/usr/local/lib/") + kFileName);
    candidates.push_back(std::string("/usr/lib/") + kFileName);

    std::string reasons;
    for (const auto& candidate : candidates) {
        std::string reason;
        bool opened = false;
        if (auto runtime = open(candidate, reason, opened)) return runtime;
        // A runtime that opens but lacks calls is broken: say so rather than look further.
        if (opened) {
            error = reason;
            return nullptr;
        }
        reasons += reasons.empty() ? reason : "; " + reason;
    }
    error = std::string("cannot load ") + kFileName + " (" + reasons + ")";
    return nullptr;
}

bool NdiRuntime::NDIlib_initialize() { return calls->initialize(); }
void NdiRuntime::NDIlib_destroy() { calls->destroy(); }

ndi::send_instance NdiRuntime::NDIlib_send_create_v2(const ndi::send_create* create, const char* config_data) {
    return calls->send_create_v2(create, config_data);
}
void NdiRuntime::NDIlib_send_destroy(ndi::send_instance instance) { calls->send_destroy(instance); }

void NdiRuntime::NDIlib_send_add_connection_metadata(ndi::send_instance instance,
                                                     const ndi::metadata_frame* metadata) {
    calls->add_connection_metadata(instance, metadata);
}

int NdiRuntime::NDIlib_send_get_target_frame_size(ndi::send_instance instance, const ndi::video_frame_v2* frame) {
    return calls->get_target_frame_size(instance, frame);
}
int NdiRuntime::NDIlib_send_get_q_factor(ndi::send_instance instance, const ndi::video_frame_v2* frame) {
    return calls->get_q_factor(instance, frame);
}

void NdiRuntime::NDIlib_send_send_video_async_v2(ndi::send_instance instance, const ndi::video_frame_v2* frame) {
    calls->send_video_async_v2(instance, frame);
}
void NdiRuntime::NDIlib_util_send_send_audio_interleaved_32s(ndi::send_instance instance,
                                                             const ndi::audio_frame_interleaved_32s* frame) {
    calls->send_audio_interleaved_32s(instance, frame);
}

ndi::frame_type NdiRuntime::NDIlib_send_capture(ndi::send_instance instance, ndi::metadata_frame* metadata,
                                                uint32_t timeout_ms) {
    return calls->capture(instance, metadata, timeout_ms);
}
void NdiRuntime::NDIlib_send_free_metadata(ndi::send_instance instance, const ndi::metadata_frame* metadata) {
    calls->free_metadata(instance, metadata);
}
bool NdiRuntime::NDIlib_send_get_tally(ndi::send_instance instance, ndi::tally* tally, uint32_t timeout_ms) {
    return calls->get_tally(instance, tally, timeout_ms);
}

}  // namespace platform
