#include "control/ndi_ptz_receiver.h"

#include <cstring>
#include <exception>

#include "base/log.h"
#include "media/network_send.h"
#include "platform/thread_name.h"

NdiPtzReceiver::NdiPtzReceiver(std::shared_ptr<network_send> sender_, ViscaTarget& target_)
    : sender(std::move(sender_)), target(target_) {}

NdiPtzReceiver::~NdiPtzReceiver() { stop(); }

void NdiPtzReceiver::start() {
    if (!sender || thread.joinable()) return;
    thread = std::thread([this] { run(); });
}

void NdiPtzReceiver::requestStop() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
}

void NdiPtzReceiver::stop() {
    requestStop();
    if (thread.joinable()) thread.join();
}

PtzCommand NdiPtzReceiver::lastCommand() const {
    std::lock_guard lock(mutex);
    return last;
}

void NdiPtzReceiver::run() {
    set_thread_name("ndiPTZ");
    logAt(4, "ndiPTZ start\n");
    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (stopping) break;
        }
        captureOne();
    }
    logAt(4, "ndiPTZ stop\n");
}

void NdiPtzReceiver::captureOne() {
    platform::NdiLibrary& ndi = sender->library();
    ndi::metadata_frame frame{};
    const auto started = std::chrono::steady_clock::now();
    const ndi::frame_type type =
        ndi.NDIlib_send_capture(sender->handle(), &frame, static_cast<uint32_t>(kCaptureTimeout.count()));
    if (type != ndi::frame_type::metadata) {
        waitRest(started);
        return;
    }
    ++frames;
    if (frame.p_data != nullptr) {
        const size_t length = frame.length > 0 ? static_cast<size_t>(frame.length) : std::strlen(frame.p_data);
        try {
            handleFrame(std::string(frame.p_data, length));
        } catch (const std::exception& e) {  // out of memory for a huge frame: that frame is lost
            logAt(2, "NDI metadata dropped: %s\n", e.what());
        }
    }
    ndi.NDIlib_send_free_metadata(sender->handle(), &frame);
}

void NdiPtzReceiver::waitRest(std::chrono::steady_clock::time_point started) {
    std::unique_lock lock(mutex);
    wake.wait_until(lock, started + kCaptureTimeout, [this] { return stopping; });
}

bool NdiPtzReceiver::handleFrame(std::string text) {
    NdiPtzMetadata::Request request;
    std::string error;
    if (!NdiPtzMetadata::decode(text, request, error)) {
        logAt(2, "NDI metadata is not well-formed XML (%s), dropped.\n", error.c_str());
        return false;
    }
    if (request.zoomRestart && target.zoomLimitRestart() == 0) target.detectMultiPort();
    target.pushCommand(request.command);
    std::lock_guard lock(mutex);
    last = request.command;
    return true;
}
