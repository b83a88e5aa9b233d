#include "sim/platform/sim_platform.h"

#include <algorithm>
#include <cerrno>

#include <nlohmann/json.hpp>

#include "platform/fifo_schedule.h"
#include "sim/fpga/sim_uio.h"

namespace sim {

SimPlatform::SimPlatform(std::shared_ptr<FpgaModel> fpga_, const SimSettings& settings_)
    : fpga(std::move(fpga_)), settings(settings_), ndi(std::make_shared<NdiStandIn>(settings.ndiAvailable)) {}

std::unique_ptr<platform::UioDevice> SimPlatform::findUio(const std::string& name) {
    if (settings.absentUio.count(name) != 0) return nullptr;
    if (name == "ndi_regs") return std::make_unique<SimUio>(fpga, 0, name, -1);
    for (int line = 0; line < FpgaModel::kLines; ++line)
        if (name == FpgaModel::kLineNames[line]) return std::make_unique<SimUio>(fpga, line + 1, name, line);
    return nullptr;
}

void SimPlatform::addDevice(const std::string& absolutePath, DeviceFactory open) {
    devices[absolutePath] = std::move(open);
}

std::unique_ptr<platform::DeviceFile> SimPlatform::openDevice(const std::string& absolutePath) {
    const auto found = devices.find(absolutePath);
    if (found == devices.end()) {
        errno = ENOENT;
        return nullptr;
    }
    return found->second();
}

void SimPlatform::publishStatus(const std::string& group, StatusSource source) {
    std::lock_guard lock(statusMutex);
    if (source)
        statusSources[group] = std::move(source);
    else
        statusSources.erase(group);
}

void SimPlatform::reportStatus(nlohmann::json& state) {
    std::lock_guard lock(statusMutex);
    for (const auto& [group, source] : statusSources) {
        std::map<std::string, long long> values;
        source(values);
        // A dotted name is a path: "a.b" shows as {"a": {"b": ...}}.
        for (const auto& [name, value] : values) {
            std::string pointer = "/" + group + "/" + name;
            std::replace(pointer.begin(), pointer.end(), '.', '/');
            state[nlohmann::json::json_pointer(pointer)] = value;
        }
    }
}

bool SimPlatform::setRealtimePriority(int stepDown) {
    if (!settings.realtime) return false;
    return platform::fifoSchedule(stepDown);
}

}  // namespace sim
