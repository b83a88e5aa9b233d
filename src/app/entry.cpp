#include "app/entry.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "app/log.h"
#include "app/startup_settings.h"
#include "hw/hardware.h"

namespace {
// The main thread's share of the work until the console takes it over.
void wait_for_exit() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "exit") return;
    }
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

    auto hw = std::make_shared<hardware>(platform);
    if (!hw->is_ready()) {
        std::fputs("Could not initialize hardware\n", stderr);
        return 0;
    }
    log_platform(*hw);
    hw->translate_addresses = true;

    wait_for_exit();

    hw.reset();  // the hardware goes last of all
    return 0;
}
}  // namespace

int ptzcam_main(int argc, char** argv, std::shared_ptr<platform::Platform> platform) {
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
