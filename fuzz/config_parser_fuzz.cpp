// Fuzzes the settings file: arbitrary bytes as config.cfg, then construction, every lookup and a write.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "base/config_parser.h"
#include "base/log.h"

namespace {

// One directory for the whole run, removed when the fuzzer exits.
class Scratch {
public:
    Scratch() {
        // In memory where there is a tmpfs: each input is written, read, rewritten and synced.
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        std::string pattern = (base / "config_fuzz.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no scratch directory");
        dir = pattern;
        // Messages are formatted for real but go nowhere.
        sink = std::fopen("/dev/null", "w");
        if (sink != nullptr) {
            log_stream = sink;
            debug_level = 5;
        }
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
        if (sink != nullptr) {
            log_stream = stderr;
            std::fclose(sink);
        }
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    std::string dir;

private:
    std::FILE* sink = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    const std::string path = scratch.dir + "/config.cfg";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    configParser parser(path);
    uint32_t degree = 150;
    float speedUp = 1.0f;
    std::string text;
    parser.getValue("PtzLimitDegree", degree);
    parser.getValue("PtzMaxSpeedUp", speedUp);
    for (const char* key : {"LimitChkEnable", "PTZ_QC_ENABLE", "PAN_REVERSE", "TILT_REVERSE", "Unknown"}) {
        parser.getValue(key, text);
    }
    try {
        parser.setValue("PAN_REVERSE", "true");
    } catch (const std::runtime_error&) {
        // A file that cannot be rewritten is reported, not fatal.
        return 0;
    }
    // Whatever the file held, the value just written is the one read back.
    std::string panReverse;
    parser.getValue("PAN_REVERSE", panReverse);
    if (panReverse != "true") __builtin_trap();
    return 0;
}
