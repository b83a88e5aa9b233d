// Everything the simulator puts around the application: the device root, the
// models, the simulated platform and the HTTP state API.
#pragma once

#include <memory>

#include "sim/media/compress_models.h"
#include "sim/platform/device_root.h"
#include "sim/fpga/fpga_model.h"
#include "sim/platform/sim_platform.h"
#include "sim/app/sim_settings.h"
#include "sim/http/state_api.h"
#include "sim/motion/tmc5041_model.h"
#include "sim/media/video_input_models.h"

namespace sim {

class VirtualCamera {
public:
    explicit VirtualCamera(const SimSettings& settings);
    ~VirtualCamera();
    VirtualCamera(const VirtualCamera&) = delete;
    VirtualCamera& operator=(const VirtualCamera&) = delete;

    // Starts the HTTP API when the settings give it a port; false when the port is taken.
    bool serve();
    int httpPort() const { return settings.httpPort; }

    std::shared_ptr<SimPlatform> platform() const { return simPlatform; }
    FpgaModel& fpga() { return *fpgaModel; }
    DeviceRoot& root() { return deviceRoot; }
    StateApi& api() { return stateApi; }
    VideoInputModels& video() { return *videoModels; }
    NdiStandIn& ndi() { return *simPlatform->ndiStandIn(); }
    Tmc5041Model& motion() { return *motionModel; }
    EncoderCores& encoder() { return compressModels->cores(); }

private:
    SimSettings settings;
    DeviceRoot deviceRoot;
    std::shared_ptr<FpgaModel> fpgaModel;
    std::shared_ptr<SimPlatform> simPlatform;
    StateApi stateApi;
    std::shared_ptr<Tmc5041Model> motionModel;
    std::unique_ptr<VideoInputModels> videoModels;
    std::unique_ptr<CompressModels> compressModels;
};

}  // namespace sim
