#include "sim/app/virtual_camera.h"

#include <nlohmann/json.hpp>

#include "sim/http/ndi_routes.h"
#include "sim/motion/spidev_model.h"

namespace sim {

VirtualCamera::VirtualCamera(const SimSettings& settings_)
    : settings(settings_),
      deviceRoot(settings),
      fpgaModel(std::make_shared<FpgaModel>(settings.fpga)),
      simPlatform(std::make_shared<SimPlatform>(fpgaModel, settings)) {
    stateApi.addReporter([fpga = fpgaModel](nlohmann::json& state) { fpga->report(state); });
    // The lamp code and the degree mode, as the application last wrote them.
    stateApi.addReporter([fpga = fpgaModel](nlohmann::json& state) {
        state["fpga"]["lamp"] = fpga->peek(1025);
        state["fpga"]["degree"] = fpga->peek(1026);
    });
    // What the application publishes through the platform (the PTZ service's limits).
    stateApi.addReporter([sim = simPlatform](nlohmann::json& state) { sim->reportStatus(state); });
    addNdiRoutes(stateApi, simPlatform->ndiStandIn());
    motionModel = std::make_shared<Tmc5041Model>(Tmc5041Model::Config{settings.head, settings.motionSpeed}, fpgaModel);
    simPlatform->addDevice("/dev/spidev32766.0",
                           [chip = motionModel] { return std::make_unique<SpidevModel>(chip); });
    stateApi.addReporter([chip = motionModel](nlohmann::json& state) { chip->report(state); });
    videoModels = std::make_unique<VideoInputModels>(settings, deviceRoot, *fpgaModel, *simPlatform, stateApi);
    compressModels = std::make_unique<CompressModels>(settings, deviceRoot, *fpgaModel, stateApi,
                                                      simPlatform->ndiStandIn(), videoModels->capture());
}

VirtualCamera::~VirtualCamera() {
    stateApi.stop();
    videoModels->shutdown();
    compressModels->shutdown();
    motionModel->shutdown();
    fpgaModel->shutdown();
}

bool VirtualCamera::serve() { return settings.httpPort == 0 || stateApi.start(settings.httpPort); }

}  // namespace sim
