#include "virtual_camera.h"

namespace sim {

VirtualCamera::VirtualCamera(const SimSettings& settings_)
    : settings(settings_),
      deviceRoot(settings),
      fpgaModel(std::make_shared<FpgaModel>(settings.fpga)),
      simPlatform(std::make_shared<SimPlatform>(fpgaModel, settings)) {
    stateApi.addReporter([fpga = fpgaModel](nlohmann::json& state) { fpga->report(state); });
}

VirtualCamera::~VirtualCamera() {
    stateApi.stop();
    fpgaModel->shutdown();
}

bool VirtualCamera::serve() { return settings.httpPort == 0 || stateApi.start(settings.httpPort); }

}  // namespace sim
