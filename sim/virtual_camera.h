// Everything the simulator puts around the application: the device root, the
// models, the simulated platform and the HTTP state API.
#pragma once

#include <memory>

#include "compress_models.h"
#include "device_root.h"
#include "fpga_model.h"
#include "sim_platform.h"
#include "sim_settings.h"
#include "state_api.h"
#include "tmc5041_model.h"
#include "video_input_models.h"

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
