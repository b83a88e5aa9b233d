// The encoder cores wired into the simulator: their views of memory, the FPGA and the HTTP API.
#pragma once

#include <memory>

#include "sim/media/capture_engines.h"
#include "sim/platform/device_root.h"
#include "sim/media/encoder_cores.h"
#include "sim/fpga/fpga_model.h"
#include "sim/ndi/ndi_standin.h"
#include "sim/app/sim_settings.h"
#include "sim/http/state_api.h"

namespace sim {

class CompressModels {
public:
    CompressModels(const SimSettings& settings, DeviceRoot& root, FpgaModel& fpga, StateApi& api,
                   std::shared_ptr<NdiStandIn> ndi, CaptureEngines& capture);
    ~CompressModels();
    CompressModels(const CompressModels&) = delete;
    CompressModels& operator=(const CompressModels&) = delete;

    EncoderCores& cores() { return *encoder; }
    // Stops the cores' worker; called before the FPGA's lines close.
    void shutdown();

private:
    DeviceRoot& root;
    RawWindow raw, reserved;
    std::shared_ptr<EncoderCores> encoder;
};

}  // namespace sim
