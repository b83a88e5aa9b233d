#include "control/net_info.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "base/log.h"
#include "platform/device_path.h"

namespace {
ifreq requestFor(const std::string& interfaceName) {
    ifreq request{};
    std::strncpy(request.ifr_name, interfaceName.c_str(), IFNAMSIZ - 1);
    return request;
}

template <size_t N>
void copyAddress(std::array<uint8_t, N>& to, const sockaddr& from) {
    std::memcpy(to.data(), &reinterpret_cast<const sockaddr_in&>(from).sin_addr, N);
}
}  // namespace

std::array<uint8_t, 4> derivedGateway(const std::array<uint8_t, 4>& ip, const std::array<uint8_t, 4>& netmask) {
    return {static_cast<uint8_t>(ip[0] & netmask[0]), static_cast<uint8_t>(ip[1] & netmask[1]),
            static_cast<uint8_t>(ip[2] & netmask[2]), 1};
}

int readNetworkInfo(NetInfo& info, const std::string& version) {
    return readNetworkInfo(info, version, platform::interfaceName());
}

int readNetworkInfo(NetInfo& info, const std::string& version, const std::string& interfaceName) {
    info.version_string = version;
    gethostname(info.hostname, sizeof info.hostname);
    info.hostname[sizeof info.hostname - 1] = '\0';

    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        logAt(2, "Cannot open UDP socket!\n");
        return -1;
    }
    // A failed request leaves the zeroed request's bytes in the field.
    ifreq request = requestFor(interfaceName);
    if (ioctl(fd, SIOCGIFHWADDR, &request) < 0) logAt(2, "Can't get MAC address\n");
    std::memcpy(info.mac.data(), request.ifr_hwaddr.sa_data, info.mac.size());

    request = requestFor(interfaceName);
    request.ifr_addr.sa_family = AF_INET;
    if (ioctl(fd, SIOCGIFADDR, &request) < 0) logAt(2, "Can't get IP address\n");
    copyAddress(info.ip, request.ifr_addr);

    request = requestFor(interfaceName);
    request.ifr_addr.sa_family = AF_INET;
    if (ioctl(fd, SIOCGIFNETMASK, &request) < 0) logAt(2, "Can't get MASK\n");
    copyAddress(info.netmask, request.ifr_netmask);

    info.gateway = derivedGateway(info.ip, info.netmask);
    close(fd);

    const auto& m = info.mac;
    logAt(4, "VERSION = v%s\n", info.version_string.c_str());
    logAt(4, "NAME = %s\n", info.hostname);
    logAt(4, "HW MAC = %02x-%02x-%02x-%02x-%02x-%02x\n", m[0], m[1], m[2], m[3], m[4], m[5]);
    logAt(4, "IP = %u.%u.%u.%u\n", info.ip[0], info.ip[1], info.ip[2], info.ip[3]);
    logAt(4, "NETMASK = %u.%u.%u.%u\n", info.netmask[0], info.netmask[1], info.netmask[2], info.netmask[3]);
    logAt(4, "GATEWAY = %u.%u.%u.%u\n", info.gateway[0], info.gateway[1], info.gateway[2], info.gateway[3]);
    return 0;
}
