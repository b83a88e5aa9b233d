// Arbitrary EEPROM contents (any length) through the preset load and the zoom settings load.
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "base/log.h"
#include "motion/eeprom_device.h"
#include "motion/ptz_presets.h"
#include "motion/zoom_servo.h"

namespace {
std::string eepromFile() {
    static const std::string file = [] {
        // In memory where there is a tmpfs: each input is written and read back.
        const std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string pattern = base + "/eeprom-fuzz.XXXXXX";
        const std::string root = mkdtemp(pattern.data());
        setenv("PTZCAM_ROOT", root.c_str(), 1);
        std::filesystem::create_directories(root + "/sys/bus/i2c/drivers/at24/0-0050");
        return root + eepromDevice::kPath;
    }();
    return file;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    debug_level = 0;
    const std::string file = eepromFile();
    FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    auto eeprom = std::make_shared<eepromDevice>();
    PtzPresets presets(eeprom);
    if (presets.presetLoad()) {
        for (int i = 0; i < PtzPresets::kCount; ++i) presets.record(i);
    }
    std::atomic<uint8_t> flags{0};
    ZoomServo zoom(flags, eeprom);
    zoom.loadZoomTorqueLimit();
    zoom.loadZoomDirection();
    presets.presetClear(static_cast<int>(size % 12));
    return 0;
}
