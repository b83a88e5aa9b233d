// The platform of the virtual camera: UIO devices of the FPGA model, and a
// scheduler that refuses real-time priority unless asked (a spinning
// real-time thread could starve the models on a small machine).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "sim/fpga/fpga_model.h"
#include "sim/ndi/ndi_standin.h"
#include "platform/platform.h"
#include "sim/app/sim_settings.h"

namespace sim {

class SimPlatform : public platform::Platform {
public:
    SimPlatform(std::shared_ptr<FpgaModel> fpga, const SimSettings& settings);

    using DeviceFactory = std::function<std::unique_ptr<platform::DeviceFile>()>;

    // Models put their bus devices (spidev, i2c-dev) here while the simulator is assembled.
    void addDevice(const std::string& absolutePath, DeviceFactory open);

    std::unique_ptr<platform::UioDevice> findUio(const std::string& name) override;
    std::unique_ptr<platform::DeviceFile> openDevice(const std::string& absolutePath) override;
    bool setRealtimePriority(int stepDown) override;
    std::shared_ptr<platform::NdiLibrary> ndiLibrary() override { return ndi; }
    std::shared_ptr<NdiStandIn> ndiStandIn() const { return ndi; }

    // What the application publishes, read on demand into state[group][name].
    void publishStatus(const std::string& group, StatusSource source) override;
    void reportStatus(nlohmann::json& state);

private:
    std::shared_ptr<FpgaModel> fpga;
    SimSettings settings;
    std::map<std::string, DeviceFactory> devices;
    std::shared_ptr<NdiStandIn> ndi;
    // Held while a source is read, so a withdrawn source is never called afterwards.
    std::mutex statusMutex;
    std::map<std::string, StatusSource> statusSources;
};

}  // namespace sim
