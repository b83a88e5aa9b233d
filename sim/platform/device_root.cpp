#include "sim/platform/device_root.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace sim {

DeviceRoot::DeviceRoot(const SimSettings& settings) {
    const char* given = std::getenv("PTZCAM_ROOT");
    if (given != nullptr && *given != '\0') {
        root = given;
    } else {
        std::string pattern = (fs::temp_directory_path() / "ptzcam-sim.XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("ptzcam-sim: cannot make a device root");
        root = pattern;
        ownsRoot = true;
        setenv("PTZCAM_ROOT", root.c_str(), 1);
    }
    physical = std::make_unique<PhysicalMemory>(MemoryLayout::kTop);
    layOut(settings);
}

DeviceRoot::~DeviceRoot() {
    std::error_code ignored;
    fs::remove(fs::path(root) / "dev/mem", ignored);  // points into this process: useless once it ends
    fs::remove(fs::path(root) / "dev/ttyS1", ignored);
    if (!ownsRoot) return;
    fs::remove_all(root, ignored);
    unsetenv("PTZCAM_ROOT");
}

void DeviceRoot::layOut(const SimSettings& settings) {
    const fs::path base(root);
    fs::create_directories(base / "dev");
    fs::create_directories(base / "root");  // home of the configuration directory
    const fs::path mem = base / "dev/mem";
    std::error_code ignored;
    fs::remove(mem, ignored);
    fs::create_symlink(physical->procPath(), mem);

    serialPort = std::make_unique<PseudoTerminal>();
    const fs::path tty = base / "dev/ttyS1";
    fs::remove(tty, ignored);
    fs::create_symlink(serialPort->slavePath(), tty);

    const fs::path eeprom = eepromFile();
    if (!fs::exists(eeprom)) {
        fs::create_directories(eeprom.parent_path());
        const std::string erased(kEepromBytes, '\xFF');
        std::ofstream out(eeprom, std::ios::binary);
        out.write(erased.data(), static_cast<std::streamsize>(erased.size()));
        if (!out) throw std::runtime_error("ptzcam-sim: cannot write " + eeprom.string());
    }

    const fs::path dt = base / "proc/device-tree/reserved-memory";
    writeReg((dt / "VadIvo_Reserved").string(), MemoryLayout::kReservedPhysical, MemoryLayout::kReservedSize,
             settings.dtCells);
    if (settings.videoRegion)
        writeReg((dt / "VadIvo_Video").string(), MemoryLayout::kVideoPhysical, MemoryLayout::kVideoSize,
                 settings.dtCells);
    else
        fs::remove_all(dt / "VadIvo_Video", ignored);
}

std::string DeviceRoot::eepromFile() const { return root + kEepromPath; }

void DeviceRoot::writeReg(const std::string& node, uint32_t address, uint32_t size, int cells) {
    fs::create_directories(node);
    std::vector<uint32_t> words = cells == 4 ? std::vector<uint32_t>{0, address, 0, size}
                                             : std::vector<uint32_t>{address, size};
    for (auto& w : words) w = htonl(w);
    std::ofstream out(node + "/reg", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(words.data()), static_cast<std::streamsize>(words.size() * 4));
    if (!out) throw std::runtime_error("ptzcam-sim: cannot write " + node + "/reg");
}

}  // namespace sim
