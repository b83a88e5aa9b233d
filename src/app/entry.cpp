#include "app/entry.h"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>

#include "base/log.h"
#include "platform/signal_watcher.h"
#include "app/startup_settings.h"
#include "base/version.h"
#include "control/console.h"
#include "control/ptz.h"
#include "hw/hardware.h"
#include "media/audio_capture.h"
#include "media/audio_compress.h"
#include "media/network_send.h"
#include "media/track.h"
#include "media/video_capture.h"
#include "media/video_compress.h"
#include "status/hdmi.h"

namespace {
// Without a console (no terminal, as under a service manager) the camera runs on until a
// termination signal, which the signal watcher turns into the end of the process. The
// termination signals are blocked here, so this thread just sleeps.
[[noreturn]] void run_until_signal() {
    logAt(4, "Console input ended; running until a termination signal.\n");
    for (;;) pause();
}

void log_platform(const hardware& hw) {
    const platform_info_t info = hw.platform_info();
    logAt(4, "Platform: %s\n", info.platform_name.c_str());
    logAt(4, "Version : %i.%i.%i\n", info.version_major, info.version_minor, info.version_patch);
    logAt(4, "Date    : %08x\n", info.date_word);
}

int run(int argc, char** argv, std::shared_ptr<platform::Platform> platform) {
    startup_settings settings;
    read_startup_config(settings);
    if (const auto status = parse_options(argc, argv, settings)) return *status;

    // An empty NDI configuration: the runtime's own defaults serve the camera.
    const std::string ndi_config = "{\"ndi\":{}}";
    std::string capabilities;
    network_send::build_capabilities_xml(true, capabilities);

    auto hw = std::make_shared<hardware>(platform);
    if (!hw->is_ready()) {
        std::fputs("Could not initialize hardware\n", stderr);
        return 0;
    }
    log_platform(*hw);
    hw->translate_addresses = true;

    auto sender = std::make_shared<network_send>(ndi_config, capabilities, "PTZ", platform);

    std::shared_ptr<video_compress> video_compressor;
    std::shared_ptr<video_capture> capture;
    if (settings.video_enabled) {
        video_compressor = std::make_shared<video_compress>(hw, sender);
        capture = std::make_shared<video_capture>(hw, video_compressor, settings.full_resolution_only);
        capture->start();
    }
    std::shared_ptr<audio_compress> audio_compressor;
    std::shared_ptr<audio_capture> audio;
    if (settings.audio_enabled) {
        audio_compressor = std::make_shared<audio_compress>(hw, sender);
        audio = std::make_shared<audio_capture>(hw, audio_compressor, platform);
    }
    std::shared_ptr<track> tracking;
    if (settings.video_enabled) tracking = std::make_shared<track>(hw, capture, audio);
    if (video_compressor) {
        video_compressor->enable();
        video_compressor.reset();  // the capture owns it from now on
        capture->enable();
    }
    if (audio_compressor) {
        audio_compressor->enable();
        audio_compressor.reset();  // the audio capture owns it from now on
    }
    auto monitor = std::make_shared<hdmi>(hw, platform);
    auto service = std::make_shared<ptz>(sender, hw, tracking, settings.pan_tilt_enabled, version_text, platform);

    Console console(capture, audio, [&service](unsigned code, DebugArgs args) { service->debugCommand(code, args); });
    if (console.runConsole() == Console::End::endOfInput) run_until_signal();

    // Every thread is asked to end before any is waited for, so that their waits overlap.
    service->requestStop();
    if (tracking) tracking->requestStop();
    if (capture) capture->requestStop();
    if (audio) audio->requestStop();
    service.reset();  // first: its threads drive the head and read the others
    capture.reset();
    audio.reset();
    monitor.reset();
    tracking.reset();  // releases the capture and, with it, its compressor
    sender.reset();
    hw.reset();  // the hardware goes last of all
    return 0;
}
}  // namespace

int ptzcam_main(int argc, char** argv, std::shared_ptr<platform::Platform> platform) {
    SignalWatcher signals;  // first: every thread started later inherits the blocked signals
    platform::install(platform);
    try {
        return run(argc, argv, std::move(platform));
    } catch (const std::exception& error) {
        // A constructor that cannot do its job ends the process with its message.
        std::string message = error.what();
        if (message.empty() || message.back() != '\n') message += '\n';
        std::fflush(stdout);
        std::fputs(message.c_str(), stderr);
        return 1;
    }
}
