// A UIO device on Linux: sysfs discovery, mmap of the maps, irqcontrol and event-count reads.
#include "platform/linux_uio.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <utility>

#include "platform/device_path.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

size_t pageSize() {
    static const size_t size = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

std::optional<std::string> readTextFile(const fs::path& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string withoutTrailingNewline(std::string text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// sysfs prints map attributes as "0x..." hex; plain decimal is accepted as well.
std::optional<uint64_t> parseNumber(const std::string& text) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    while (first < last && (*first == ' ' || *first == '\t')) ++first;
    while (last > first && (last[-1] == '\n' || last[-1] == ' ' || last[-1] == '\t')) --last;
    int base = 10;
    if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
        first += 2;
        base = 16;
    }
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value, base);
    if (error != std::errc() || end != last || first == last) return std::nullopt;
    return value;
}

uint64_t readAttribute(const fs::path& mapDir, const char* attribute) {
    const auto text = readTextFile(mapDir / attribute);
    if (!text) return 0;
    return parseNumber(*text).value_or(0);
}

// The kernel numbers maps from 0 without gaps; the first missing one ends the list.
std::vector<UioMapInfo> readMaps(const fs::path& mapsDir) {
    std::vector<UioMapInfo> maps;
    for (int m = 0;; ++m) {
        const fs::path mapDir = mapsDir / ("map" + std::to_string(m));
        std::error_code ec;
        if (!fs::is_directory(mapDir, ec)) break;
        maps.push_back({readAttribute(mapDir, "addr"), readAttribute(mapDir, "size"),
                        readAttribute(mapDir, "offset")});
    }
    return maps;
}

// N for a directory named exactly "uioN".
std::optional<int> deviceNumber(const std::string& entry) {
    if (entry.size() <= 3 || entry.compare(0, 3, "uio") != 0) return std::nullopt;
    int number = 0;
    const char* last = entry.data() + entry.size();
    const auto [end, error] = std::from_chars(entry.data() + 3, last, number);
    if (error != std::errc() || end != last || number < 0) return std::nullopt;
    if (entry != "uio" + std::to_string(number)) return std::nullopt;  // no "uio01"
    return number;
}

}  // namespace

LinuxUio::LinuxUio(int number, std::string name, std::vector<UioMapInfo> maps)
    : number_(number), name_(std::move(name)), maps_(std::move(maps)) {}

LinuxUio::~LinuxUio() { close(); }

std::string LinuxUio::devname() const { return "/dev/uio" + std::to_string(number_); }

const UioMapInfo* LinuxUio::info(int map) const {
    if (map < 0 || static_cast<size_t>(map) >= maps_.size()) return nullptr;
    return &maps_[static_cast<size_t>(map)];
}

uint32_t LinuxUio::memSize(int map) const {
    const UioMapInfo* m = info(map);
    return m != nullptr ? static_cast<uint32_t>(m->size) : 0;
}

uint32_t LinuxUio::memAddr(int map) const {
    const UioMapInfo* m = info(map);
    return m != nullptr ? static_cast<uint32_t>(m->addr) : 0;
}

uint32_t LinuxUio::offset(int map) const {
    const UioMapInfo* m = info(map);
    return m != nullptr ? static_cast<uint32_t>(m->offset) : 0;
}

int LinuxUio::open() {
    if (fd_ >= 0) return 0;
    const int fd = ::open(devicePath(devname()).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return -errno;
    fd_ = fd;
    const int status = mapAll();
    if (status != 0) close();
    return status;
}

// The kernel lets a map be mapped over offset + size bytes (rounded up to pages), so the
// mapping covers the last register even when the device memory does not start on a page.
int LinuxUio::mapAll() {
    const size_t page = pageSize();
    mappings_.assign(maps_.size(), Mapping{});
    for (size_t m = 0; m < maps_.size(); ++m) {
        const UioMapInfo& map = maps_[m];
        if (map.size == 0) continue;  // nothing to map; accesses are refused
        if (map.offset > SIZE_MAX - page || map.size > SIZE_MAX - page - map.offset) return -EINVAL;
        const size_t span = static_cast<size_t>(map.offset + map.size);
        const size_t length = (span + page - 1) / page * page;
        void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_,
                            static_cast<off_t>(m * page));
        if (base == MAP_FAILED) return -errno;
        mappings_[m] = {base, length};
    }
    return 0;
}

void LinuxUio::close() {
    for (const Mapping& mapping : mappings_) {
        if (mapping.base != nullptr) ::munmap(mapping.base, mapping.length);
    }
    mappings_.clear();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

volatile void* LinuxUio::registerAt(int map, uint32_t byteOffset, size_t width) const {
    const UioMapInfo* m = info(map);
    if (m == nullptr || static_cast<size_t>(map) >= mappings_.size()) return nullptr;
    const Mapping& mapping = mappings_[static_cast<size_t>(map)];
    if (mapping.base == nullptr) return nullptr;
    if (static_cast<uint64_t>(byteOffset) + width > m->size) return nullptr;
    const uintptr_t address =
        reinterpret_cast<uintptr_t>(mapping.base) + static_cast<uintptr_t>(m->offset) + byteOffset;
    if (address % width != 0) return nullptr;  // a misaligned device access faults on ARM
    return reinterpret_cast<volatile void*>(address);
}

uint32_t LinuxUio::read32(int map, uint32_t byteOffset) {
    volatile void* reg = registerAt(map, byteOffset, sizeof(uint32_t));
    return reg != nullptr ? *static_cast<volatile uint32_t*>(reg) : 0;
}

void LinuxUio::write32(int map, uint32_t byteOffset, uint32_t value) {
    volatile void* reg = registerAt(map, byteOffset, sizeof(uint32_t));
    if (reg != nullptr) *static_cast<volatile uint32_t*>(reg) = value;
}

uint8_t LinuxUio::read8(int map, uint32_t byteOffset) {
    volatile void* reg = registerAt(map, byteOffset, sizeof(uint8_t));
    return reg != nullptr ? *static_cast<volatile uint8_t*>(reg) : 0;
}

void LinuxUio::write8(int map, uint32_t byteOffset, uint8_t value) {
    volatile void* reg = registerAt(map, byteOffset, sizeof(uint8_t));
    if (reg != nullptr) *static_cast<volatile uint8_t*>(reg) = value;
}

int LinuxUio::writeIrqControl(uint32_t value) {
    if (fd_ < 0) return -EBADF;
    ssize_t written = 0;
    do {
        written = ::write(fd_, &value, sizeof value);
    } while (written < 0 && errno == EINTR);
    if (written == static_cast<ssize_t>(sizeof value)) return 0;
    return written < 0 ? -errno : -EIO;
}

int LinuxUio::irqWaitTimeout(std::optional<std::chrono::milliseconds> timeout) {
    if (fd_ < 0) return -1;
    if (timeout && !waitReadable(*timeout)) return -1;
    return readEventCount();
}

bool LinuxUio::waitReadable(std::chrono::milliseconds timeout) const {
    using namespace std::chrono;
    const milliseconds limit = std::clamp(timeout, milliseconds(0), milliseconds(INT_MAX));
    const auto deadline = steady_clock::now() + limit;
    for (;;) {
        const auto left = std::max(ceil<milliseconds>(deadline - steady_clock::now()), milliseconds(0));
        pollfd pfd{fd_, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready > 0) return (pfd.revents & POLLIN) != 0;
        if (ready == 0 || errno != EINTR) return false;
    }
}

// The count is masked to 31 bits: callers take a negative result for a time-out, and a
// device that has counted past 2^31 interrupts must still report them.
int LinuxUio::readEventCount() {
    uint32_t count = 0;
    ssize_t got = 0;
    do {
        got = ::read(fd_, &count, sizeof count);
    } while (got < 0 && errno == EINTR);
    if (got != static_cast<ssize_t>(sizeof count)) return -1;
    return static_cast<int>(count & 0x7fffffffu);
}

std::unique_ptr<UioDevice> findLinuxUio(const std::string& name) {
    const fs::path classDir = devicePath("/sys/class/uio");
    std::optional<int> found;
    std::error_code ec;
    for (fs::directory_iterator it(classDir, ec), end; !ec && it != end; it.increment(ec)) {
        const auto number = deviceNumber(it->path().filename().string());
        if (!number || (found && *found < *number)) continue;
        const auto driverName = readTextFile(it->path() / "name");
        if (driverName && withoutTrailingNewline(*driverName) == name) found = number;
    }
    if (!found) return nullptr;
    const fs::path mapsDir = classDir / ("uio" + std::to_string(*found)) / "maps";
    return std::make_unique<LinuxUio>(*found, name, readMaps(mapsDir));
}

}  // namespace platform
