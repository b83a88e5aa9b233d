// The camera's own platform under PTZCAM_ROOT: LinuxUio on a fake sysfs and /dev tree, the hardware's error paths.
#include "platform/linux_uio.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>

#include <gtest/gtest.h>

#include "hw/hardware.h"
#include "platform/device_path.h"
#include "platform/linux_platform.h"
#include "support/fake_camera_tree.h"
#include "support/thrown_message.h"

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::findLinuxUio;

const size_t kPage = static_cast<size_t>(::sysconf(_SC_PAGESIZE));

class LinuxUioTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "uio_test_XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        ::setenv("PTZCAM_ROOT", root_.c_str(), 1);
        fs::create_directories(root_ / "dev");
        // uio0's name starts with the name of uio3, which is the one "ndi_regs" must find.
        addDevice(0, "ndi_regs_ext\n", {{"0x43d00000", "0x1000", "0x0"}}, kPage);
        addDevice(3, "ndi_regs\n", {{"0x43c00000", "0x00001000", "0x0"}, {"0x43c10010", "0x100", "0x10"}}, 2 * kPage);
        addDevice(5, "vid_in", {{"1136656384", "4096", "0"}});  // decimal, no newline
        addDevice(7, "gappy\n", {{"0x1000", "0x100", "0x0"}});
        fs::create_directories(root_ / "sys/class/uio/uio7/maps/map2");
    }
    void TearDown() override { ::unsetenv("PTZCAM_ROOT"), fs::remove_all(root_); }
    // A sysfs entry with its maps (addr, size, offset) and, for nodeBytes > 0, a /dev node of that size.
    void addDevice(int n, const std::string& nameFile, const std::vector<std::array<std::string, 3>>& maps, size_t nodeBytes = 0) {
        const fs::path dir = root_ / "sys/class/uio" / ("uio" + std::to_string(n));
        fs::create_directories(dir);
        std::ofstream(dir / "name") << nameFile;
        for (size_t m = 0; m < maps.size(); ++m) {
            const fs::path mapDir = dir / "maps" / ("map" + std::to_string(m));
            fs::create_directories(mapDir);
            for (size_t i = 0; i < 3; ++i) std::ofstream(mapDir / std::array{"addr", "size", "offset"}[i]) << maps[m][i] << "\n";
        }
        if (nodeBytes > 0) std::ofstream(node(n)).close(), fs::resize_file(node(n), nodeBytes);
    }
    fs::path node(int n) const { return root_ / "dev" / ("uio" + std::to_string(n)); }

    uint32_t fileValue(int n, size_t at) const {
        uint32_t value = 0;
        std::ifstream(node(n), std::ios::binary).seekg(std::streamoff(at)).read(reinterpret_cast<char*>(&value), sizeof value);
        return value;
    }
    void setFileWord(int n, size_t at, uint32_t value) {
        std::fstream(node(n), std::ios::binary | std::ios::in | std::ios::out)
            .seekp(std::streamoff(at))
            .write(reinterpret_cast<const char*>(&value), sizeof value);
    }
    std::unique_ptr<platform::UioDevice> openDevice(const std::string& name) {
        auto uio = findLinuxUio(name);
        return uio != nullptr && uio->open() == 0 ? std::move(uio) : nullptr;
    }
    fs::path root_;
};

// Exact names only, the lowest number first; "uio01" is no device.
TEST_F(LinuxUioTest, FindsExactNamesAndReadsMapAttributes) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"ndi_regs", "/dev/uio3"}, {"ndi_regs_ext", "/dev/uio0"}, {"vid_in", "/dev/uio5"},
        {"ndi_reg", std::nullopt}, {"ndi_regs\n", std::nullopt},  {"", std::nullopt},
    };
    for (const auto& [name, devname] : cases) {
        const auto uio = findLinuxUio(name);
        EXPECT_EQ(uio ? std::optional(uio->devname() + " " + uio->name()) : std::nullopt,
                  devname ? std::optional(*devname + " " + name) : std::nullopt);
    }
    const auto regs = findLinuxUio("ndi_regs"), decimal = findLinuxUio("vid_in"), gappy = findLinuxUio("gappy");
    ASSERT_TRUE(regs && decimal && gappy);
    EXPECT_EQ(std::make_tuple(regs->maxmap(), regs->memAddr(1), regs->memSize(1), regs->offset(1)),
              std::make_tuple(2, 0x43c10010u, 0x100u, 0x10u));
    for (const int map : {2, -1}) EXPECT_EQ(regs->memAddr(map) + regs->memSize(map) + regs->offset(map), 0u) << map;
    EXPECT_EQ(std::make_tuple(decimal->memAddr(0), decimal->memSize(0), gappy->maxmap()), std::make_tuple(0x43c00000u, 0x1000u, 1));
    addDevice(12, "vid_in\n", {});
    addDevice(2, "vid_in\n", {});
    addDevice(1, "vid_in\n", {});
    fs::rename(root_ / "sys/class/uio/uio1", root_ / "sys/class/uio/uio01");
    EXPECT_EQ(findLinuxUio("vid_in")->devname(), "/dev/uio2");
    fs::remove_all(root_ / "sys");  // no uio class at all
    EXPECT_EQ(findLinuxUio("ndi_regs"), nullptr);
}

// Map 1 is the second page of the node, its memory 0x10 bytes into it. Past the end, straddling it,
// misaligned, huge offsets and maps that do not exist read 0 and write nothing.
TEST_F(LinuxUioTest, RegistersLandAtTheirBytesAndOutOfRangeAccessIsHarmless) {
    const auto uio = openDevice("ndi_regs");
    ASSERT_NE(uio, nullptr);
    uio->write32(1, 0x8, 0xcafef00d);
    uio->write8(1, 0x21, 0xab);
    setFileWord(3, kPage + 0x10 + 0xfc, 0x11223344);
    EXPECT_EQ(std::make_tuple(fileValue(3, kPage + 0x18), fileValue(3, kPage + 0x30)), std::make_tuple(0xcafef00du, 0xab00u));
    EXPECT_EQ(std::make_tuple(uio->read8(1, 0x21), uio->read32(1, 0xfc), uio->read8(1, 0xff)), std::make_tuple(0xab, 0x11223344u, 0x11));
    for (size_t at = 0; at < 2 * kPage; at += 4) setFileWord(3, at, 0x5a5a5a5a);
    const std::pair<int, uint32_t> cases[] = {{0, 0x1000}, {0, 0xffe}, {0, 0x2}, {1, 0xfe}, {0, 0xfffffffc}, {2, 0}, {-1, 0}};
    for (const auto& [map, byteOffset] : cases) {
        uio->write32(map, byteOffset, 0);
        EXPECT_EQ(uio->read32(map, byteOffset), 0u) << map << " +0x" << std::hex << byteOffset;
    }
    uio->write8(1, 0x100, 0);
    uio->write8(3, 0, 0);
    EXPECT_EQ(uio->read8(1, 0x100), 0);
    for (size_t at = 0; at < 2 * kPage; at += 4) ASSERT_EQ(fileValue(3, at), 0x5a5a5a5au) << at;
    // A map whose memory starts mid-page reaches into the next page; its last register must work.
    addDevice(9, "aud_in\n", {{"0x43c20800", "0x1000", "0x800"}}, 2 * kPage);
    const auto midPage = openDevice("aud_in");
    midPage->write32(0, 0xffc, 0x600df00d);
    EXPECT_EQ(std::make_tuple(fileValue(9, 0x800 + 0xffc), midPage->read32(0, 0xffc)), std::make_tuple(0x600df00du, 0x600df00du));
}

TEST_F(LinuxUioTest, OpenCloseAndAMapThatCannotBeMapped) {
    const auto missing = findLinuxUio("vid_in");  // no /dev/uio5
    EXPECT_LT(missing->open(), 0);
    EXPECT_EQ(std::make_tuple(missing->read32(0, 0), missing->irqWaitTimeout(1ms)), std::make_tuple(0u, -1));
    const auto uio = findLinuxUio("ndi_regs");
    setFileWord(3, 0, 42);
    EXPECT_EQ(uio->read32(0, 0), 0u);  // not open yet
    ASSERT_EQ(uio->open(), 0);
    EXPECT_EQ(uio->read32(0, 0), 42u);
    const auto mapped = [&] {
        std::ifstream in("/proc/self/maps");
        return std::string{std::istreambuf_iterator<char>(in), {}}.find(node(3).string()) != std::string::npos;
    };
    EXPECT_TRUE(mapped());
    uio->close();
    EXPECT_FALSE(mapped()) << "close unmaps";
    uio->close();
    uio->write32(0, 0, 7);
    EXPECT_EQ(fileValue(3, 0), 42u);
    ASSERT_EQ(uio->open(), 0);  // reopens after close
    uio->close();
    fs::remove(node(3));
    ::mkfifo(node(3).c_str(), 0600);  // opens, but is not mmap-able
    EXPECT_LT(uio->open(), 0);
    EXPECT_EQ(uio->read32(0, 0), 0u);
    EXPECT_LT(uio->enableIrq(), 0);  // the node was closed again
}

// With a FIFO as the node reads really block until the test writes.
TEST_F(LinuxUioTest, InterruptsTimeOutOrReturnTheEventCountAndControlWritesOneAndZero) {
    addDevice(10, "vid_track\n", {});
    ASSERT_EQ(::mkfifo(node(10).c_str(), 0600), 0);
    const auto uio = openDevice("vid_track");
    ASSERT_NE(uio, nullptr);
    const int peer = ::open(node(10).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(peer, 0);
    const auto raise = [peer](uint32_t count) { return ::write(peer, &count, sizeof count) == sizeof count; };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(uio->irqWaitTimeout(60ms), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 55ms);
    EXPECT_EQ(uio->irqWaitTimeout(0ms), -1);
    ASSERT_TRUE(raise(17));
    EXPECT_EQ(uio->irqWaitTimeout(1s), 17);
    ASSERT_TRUE(raise(0x80000005u));  // past 2^31 it must still read as an interrupt
    EXPECT_EQ(uio->irqWaitTimeout(1s), 5);
    EXPECT_EQ(uio->irqWaitTimeout(10ms), -1);  // consumed
    ASSERT_TRUE(raise(4));
    EXPECT_EQ(uio->irqWaitTimeout(std::nullopt), 4);
    EXPECT_EQ(uio->enableIrq(), 0);
    EXPECT_EQ(uio->disableIrq(), 0);
    uint32_t written[2] = {99, 99};
    EXPECT_EQ(::read(peer, written, sizeof written), static_cast<ssize_t>(sizeof written));
    EXPECT_EQ(std::make_tuple(written[0], written[1]), std::make_tuple(1u, 0u));
    ::close(peer);
}

using Tree = FakeCameraTree;
std::unique_ptr<hardware> bringUp() { return std::make_unique<hardware>(std::make_shared<platform::LinuxPlatform>()); }

// Three cells or no node cannot be read; an address that is not page aligned cannot be mapped.
TEST(HardwareOnSysfs, UnreadableOrUnmappableReservedRegionIsAnError) {
    const std::string unreadable = "Cannot read VadIvo_Reserved reg details from device-tree!";
    const std::pair<std::vector<uint32_t>, std::string> cases[] = {
        {{0, Tree::kReservedPhysical, 0}, unreadable},
        {{}, unreadable},
        {{Tree::kReservedPhysical + 1, Tree::kReservedSize}, "Cannot map VadIvo_Reserved memory region!"},
    };
    for (const auto& [cells, error] : cases) {
        Tree tree;
        if (cells.empty()) tree.removeNode("VadIvo_Reserved");
        else tree.writeRegCells("VadIvo_Reserved", cells);
        EXPECT_EQ(thrownMessage<std::runtime_error>(bringUp), error);
    }
}
}  // namespace

// The device root is a prefix without its trailing slashes; an empty one is none, as is an empty interface.
TEST(DevicePath, RootPrefixAndInterfaceDefault) {
    for (const auto& [root, path] : {std::pair{"", "/dev/mem"}, {"/tmp/r//", "/tmp/r/dev/mem"}}) {
        setenv("PTZCAM_ROOT", root, 1);
        EXPECT_EQ(platform::devicePath("/dev/mem"), path);
    }
    unsetenv("PTZCAM_ROOT");
    setenv("PTZCAM_IFACE", "", 1);
    EXPECT_EQ(platform::interfaceName(), "eth0");
    unsetenv("PTZCAM_IFACE");
}
