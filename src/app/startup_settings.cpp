#include "app/startup_settings.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/config_parser.h"
#include "base/log.h"
#include "base/version.h"
#include "platform/device_path.h"

namespace {
void print_usage(const char* program) {
    std::fprintf(stderr,
                 "Usage: %s [-xX] [-F] [-pqf] [v] [t]\n"
                 "  -X Disable Video capture\n"
                 "  -x Disable Audio capture\n"
                 "  -F Full resolution video capture only\n"
                 "  -p Increase debugging output level\n"
                 "  -q Decrease debugging output level\n"
                 "  -f fflush() after each debug message\n"
                 "  -v Version info\n"
                 "  -t Pan-Tilt disable\n",
                 program);
}

void print_version(const startup_settings& settings) {
    const std::string marked =
        marked_version(version_text, settings.ptz_limit, settings.pan_reversed || settings.tilt_reversed);
    std::printf("v%s", marked.c_str());
    std::fflush(stdout);
}
}  // namespace

void read_startup_config(startup_settings& settings) {
    configParser config(platform::devicePath(kConfigFile));
    if (!config.ready) return;
    uint32_t limit = static_cast<uint32_t>(settings.ptz_limit);
    config.getValue("PtzLimitDegree", limit);
    settings.ptz_limit = static_cast<int32_t>(limit);
    logAt(5, "PtzLimitDegree %d\n", settings.ptz_limit);
    std::string pan, tilt;
    config.getValue("PAN_REVERSE", pan);
    config.getValue("TILT_REVERSE", tilt);
    settings.pan_reversed = pan == "true";
    settings.tilt_reversed = tilt == "true";
}

std::optional<int> parse_options(int argc, char** argv, startup_settings& settings) {
    opterr = 0;  // the usage text is the whole complaint
    int option;
    while ((option = getopt(argc, argv, "XxpqfFvt")) != -1) {
        switch (option) {
            case 'X': settings.video_enabled = false; break;
            case 'x': settings.audio_enabled = false; break;
            case 'F': settings.full_resolution_only = true; break;
            case 'p': ++debug_level; break;
            case 'q': if (debug_level > 0) --debug_level; break;
            case 'f': flush_logs = true; break;
            case 't': settings.pan_tilt_enabled = false; break;
            case 'v': print_version(settings); return 0;
            default: print_usage(argv[0]); return 1;
        }
    }
    return std::nullopt;
}
