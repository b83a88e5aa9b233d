#include "sim/app/sim_settings.h"

#include "sim/motion/motion_settings.h"

#include "sim/media/audio_block.h"
#include "sim/media/input_format.h"

#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace sim {

namespace {
const char* env(const char* name) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? value : nullptr;
}

long number(const char* name, long fallback, long low, long high) {
    const char* text = env(name);
    if (text == nullptr) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 0);
    if (*end != '\0' || value < low || value > high)
        throw std::runtime_error(std::string("ptzcam-sim: ") + name + " must be a number from " + std::to_string(low) +
                                 " to " + std::to_string(high));
    return value;
}
}  // namespace

SimSettings SimSettings::fromEnvironment() {
    SimSettings s;
    s.fpga.platformId = static_cast<uint8_t>(number("PTZSIM_PLATFORM_ID", s.fpga.platformId, 0, 255));
    s.httpPort = static_cast<int>(number("PTZSIM_HTTP", s.httpPort, 0, 65535));
    s.realtime = number("PTZSIM_REALTIME", 0, 0, 1) == 1;
    s.videoRegion = number("PTZSIM_VIDEO_REGION", 1, 0, 1) == 1;
    s.dtCells = static_cast<int>(number("PTZSIM_DT_CELLS", s.dtCells, 2, 4));
    s.ndiAvailable = number("PTZSIM_NDI", 1, 0, 1) == 1;
    s.encoderCores = static_cast<int>(number("PTZSIM_CORES", s.encoderCores, 1, 4));
    if (s.encoderCores == 3) throw std::runtime_error("ptzcam-sim: PTZSIM_CORES must be 1, 2 or 4");
    if (const char* input = env("PTZSIM_INPUT")) {
        if (!InputFormat::parse(input)) throw std::runtime_error(std::string("ptzcam-sim: unknown PTZSIM_INPUT ") + input);
        s.input = input;
    }
    if (const char* rate = env("PTZSIM_AUDIO_RATE")) {
        const auto hz = AudioBlock::parseRate(rate);
        if (!hz) throw std::runtime_error("ptzcam-sim: PTZSIM_AUDIO_RATE must be 48000, 44100, 32000, 96000 or none");
        s.audioRate = *hz;
    }
    readMotionEnvironment(s.head, s.motionSpeed);
    readServoEnvironment(s.servo);
    if (const char* adapter = env("PTZSIM_MULTIPORT")) {
        const std::string value = adapter;
        if (value != "present" && value != "none")
            throw std::runtime_error("ptzcam-sim: PTZSIM_MULTIPORT must be present or none");
        s.multiport = value == "present";
    }
    if (const char* power = env("PTZSIM_CAMERA_POWER")) {
        const std::string value = power;
        if (value != "on" && value != "off" && value != "stuck")
            throw std::runtime_error("ptzcam-sim: PTZSIM_CAMERA_POWER must be on, off or stuck");
        s.camera.startsOn = value != "off";
        s.camera.stuck = value == "stuck";
    }
    if (s.dtCells == 3) throw std::runtime_error("ptzcam-sim: PTZSIM_DT_CELLS must be 2 or 4");
    if (const char* absent = env("PTZSIM_UIO_ABSENT")) {
        std::stringstream list(absent);
        for (std::string name; std::getline(list, name, ',');)
            if (!name.empty()) s.absentUio.insert(name);
    }
    return s;
}

}  // namespace sim
