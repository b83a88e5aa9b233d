// The camera's network identity as discovery reports it, and how it is read from the interface.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct NetInfo {
    char hostname[100] = {};
    std::array<uint8_t, 4> ip{};       // network order
    std::array<uint8_t, 4> netmask{};
    std::array<uint8_t, 4> gateway{};
    std::array<uint8_t, 6> mac{};
    std::string version_string;
};

// The advertised gateway: the network part of the address with host byte 1
// (the routing table is not consulted).
std::array<uint8_t, 4> derivedGateway(const std::array<uint8_t, 4>& ip, const std::array<uint8_t, 4>& netmask);

// Fills `info` from gethostname and the interface requests on `interfaceName`
// (platform::interfaceName() by default); 0, or -1 when no socket can be opened.
int readNetworkInfo(NetInfo& info, const std::string& version);
int readNetworkInfo(NetInfo& info, const std::string& version, const std::string& interfaceName);
