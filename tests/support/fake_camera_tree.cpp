#include "support/fake_camera_tree.h"

#include <arpa/inet.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
const char* const kDevices[] = {"ndi_regs", "ndi_enc", "vid_in",  "pvw_in", "aud_in",
                                "vid_track", "ndi_dec", "vid_out", "aud_out"};

void writeText(const std::string& file, const std::string& text) { std::ofstream(file) << text; }

template <typename T>
T readAt(const std::string& file, uint64_t at) {
    std::ifstream in(file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(at));
    T value{};
    in.read(reinterpret_cast<char*>(&value), sizeof value);
    return value;
}
}  // namespace

FakeCameraTree::FakeCameraTree(const std::set<std::string>& absent) {
    // /dev/mem is written through: keep it in memory.
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "ptzcam-tree.XXXXXX").string();
    root = mkdtemp(pattern.data());
    setenv("PTZCAM_ROOT", root.c_str(), 1);
    fs::create_directories(path("/dev"));
    int number = 0;
    for (const char* name : kDevices) {
        const int n = number++;
        if (absent.count(name) != 0) continue;
        const std::string dir = path("/sys/class/uio/uio" + std::to_string(n));
        fs::create_directories(dir);
        writeText(dir + "/name", std::string(name) + "\n");
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

uint32_t FakeCameraTree::registerWord(uint32_t byteOffset) const {
    return readAt<uint32_t>(path("/dev/uio0"), byteOffset);
}

uint8_t FakeCameraTree::registerByte(uint32_t byteOffset) const {
    return readAt<uint8_t>(path("/dev/uio0"), byteOffset);
}

void FakeCameraTree::setRegisterWord(uint32_t byteOffset, uint32_t value) {
    std::fstream out(path("/dev/uio0"), std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(byteOffset);
    out.write(reinterpret_cast<const char*>(&value), sizeof value);
}

uint32_t FakeCameraTree::memoryWord(uint32_t physical) const { return readAt<uint32_t>(path("/dev/mem"), physical); }
