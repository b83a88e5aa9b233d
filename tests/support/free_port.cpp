#include "support/free_port.h"

#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <random>
#include <set>

#include "support/udp_endpoint.h"

namespace {
// Below the default ephemeral range (32768..60999) and above the well-known and registered ports
// the camera and its simulator use.
constexpr uint16_t kFirst = 20000;
constexpr uint16_t kLast = 32767;

bool bindable(int type, uint16_t port) {
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const sockaddr_in local = inetAddress(INADDR_ANY, port);
    const bool ok = bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    close(fd);
    return ok;
}
}  // namespace

uint16_t freePort() {
    static std::mutex lock;
    static std::set<uint16_t> handedOut;
    static std::mt19937 draw{std::random_device{}()};
    std::lock_guard<std::mutex> guard(lock);
    std::uniform_int_distribution<uint16_t> range(kFirst, kLast);
    for (;;) {
        const uint16_t port = range(draw);
        if (handedOut.count(port) || !bindable(SOCK_DGRAM, port) || !bindable(SOCK_STREAM, port)) continue;
        handedOut.insert(port);
        return port;
    }
}
