// The platform of the virtual camera: UIO devices of the FPGA model, and a
// scheduler that refuses real-time priority unless asked (a spinning
// real-time thread could starve the models on a small machine).
#pragma once

#include <memory>

#include "fpga_model.h"
#include "platform/platform.h"
#include "sim_settings.h"

namespace sim {

class SimPlatform : public platform::Platform {
public:
    SimPlatform(std::shared_ptr<FpgaModel> fpga, const SimSettings& settings);

    std::unique_ptr<platform::UioDevice> findUio(const std::string& name) override;
    bool setRealtimePriority(int stepDown) override;

private:
    std::shared_ptr<FpgaModel> fpga;
    SimSettings settings;
};

}  // namespace sim
