// Wiring of the video input models into the FPGA, the i2c bus and the HTTP API.
#include "sim/media/video_input_models.h"

#include <nlohmann/json.hpp>

#include "sim/status/i2c_bus_device.h"

namespace sim {

namespace {
// The capture engines reach the video region, or the first 512 MiB without one, as the application does.
RawWindow mapRaw(const SimSettings& settings, DeviceRoot& root) {
    RawWindow raw;
    raw.physical = settings.videoRegion ? MemoryLayout::kVideoPhysical : 0;
    raw.size = settings.videoRegion ? MemoryLayout::kVideoSize : 0x20000000;
    raw.base = static_cast<uint8_t*>(root.memory().map(raw.physical, raw.size));
    return raw;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}
}  // namespace

VideoInputModels::VideoInputModels(const SimSettings& settings, DeviceRoot& root_, FpgaModel& fpga,
                                   SimPlatform& platform, StateApi& api)
    : root(root_),
      raw(mapRaw(settings, root_)),
      source(*InputFormat::parse(settings.input)),
      engines(std::make_unique<CaptureEngines>(fpga, source, raw)),
      tracker(std::make_shared<TrackingBlock>(fpga, source)),
      hdmi(std::make_shared<HdmiReceiver>(source)) {
    fpga.attach(TrackingBlock::kBlock, 1, tracker);
    platform.addDevice("/dev/i2c-1", [chip = hdmi] {
        return std::make_unique<I2cBusDevice>(std::map<uint16_t, std::shared_ptr<I2cTarget>>{{HdmiReceiver::kAddress, chip}});
    });
    api.addReporter([this](nlohmann::json& state) {
        state["input"] = source.current().name;
        engines->report(state);
        hdmi->report(state);
    });
    api.addPost("/input", [this](const StateApi::Params&, const std::string& body, std::string& reply) {
        const auto format = InputFormat::parse(trimmed(body));
        if (!format) {
            reply = "unknown input format\n";
            return 400;
        }
        source.set(*format);
        reply = format->name + "\n";
        return 200;
    });
}

VideoInputModels::~VideoInputModels() {
    shutdown();
    root.memory().unmap(raw.base, raw.size);
}

void VideoInputModels::shutdown() { engines->shutdown(); }

}  // namespace sim
