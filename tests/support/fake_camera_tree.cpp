#include "support/fake_camera_tree.h"

#include <arpa/inet.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {
const char* const kDevices[] = {"ndi_regs", "ndi_enc", "vid_in",  "pvw_in", "aud_in",
                                "vid_track", "ndi_dec", "vid_out", "aud_out"};

void writeText(const std::string& file, const std::string& text) { std::ofstream(file) << text; }
}  // namespace

FakeCameraTree::FakeCameraTree() {
    // /dev/mem is written through: keep it in memory.
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "ptzcam-tree.XXXXXX").string();
    root = mkdtemp(pattern.data());
    setenv("PTZCAM_ROOT", root.c_str(), 1);
    fs::create_directories(path("/dev"));
    for (int n = 0; n < static_cast<int>(std::size(kDevices)); ++n) {
        const std::string dir = path("/sys/class/uio/uio" + std::to_string(n));
        fs::create_directories(dir);
        writeText(dir + "/name", std::string(kDevices[n]) + "\n");
        const std::string node = path("/dev/uio" + std::to_string(n));
        std::ofstream(node).close();
        if (n != 0) continue;  // only the register window has a map
        fs::create_directories(dir + "/maps/map0");
        writeText(dir + "/maps/map0/addr", "0x43c00000\n");
        writeText(dir + "/maps/map0/size", "0x1000\n");
        writeText(dir + "/maps/map0/offset", "0x0\n");
        fs::resize_file(node, kRegisterBytes);
    }
    writeRegCells("VadIvo_Reserved", {kReservedPhysical, kReservedSize});
    writeRegCells("VadIvo_Video", {kVideoPhysical, kVideoSize});
    std::ofstream(path("/dev/mem")).close();
    fs::resize_file(path("/dev/mem"), kReservedPhysical + kReservedSize);
}

FakeCameraTree::~FakeCameraTree() {
    unsetenv("PTZCAM_ROOT");
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

void FakeCameraTree::writeRegCells(const std::string& node, const std::vector<uint32_t>& cells) {
    const std::string dir = path("/proc/device-tree/reserved-memory/" + node);
    fs::create_directories(dir);
    std::ofstream out(dir + "/reg", std::ios::binary | std::ios::trunc);
    for (uint32_t cell : cells) {
        const uint32_t big = htonl(cell);
        out.write(reinterpret_cast<const char*>(&big), 4);
    }
}

void FakeCameraTree::removeNode(const std::string& node) {
    fs::remove_all(path("/proc/device-tree/reserved-memory/" + node));
}
