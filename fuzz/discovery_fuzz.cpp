// Fuzzes the discovery port's answer: INFO exactly for "ENQ:network" at byte 1, NAK otherwise.
#include <cstdlib>
#include <cstring>
#include <span>

#include "control/discovery_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NetInfo info;
    info.mac = {0x02, 0xfc, 0, 0, 0, 1};
    info.ip = {192, 168, 1, 57};
    info.netmask = {255, 255, 255, 0};
    info.gateway = derivedGateway(info.ip, info.netmask);
    info.version_string = "2.4.6_150";
    const std::span<const uint8_t> enquiry(data, size);
    const visca::Bytes reply = discoveryReply(info, enquiry, "camerahost12");
    const bool isEnquiry = size >= 12 && std::memcmp(data + 1, "ENQ:network", 11) == 0;
    if (reply.front() != 0x02 || reply.back() != 0x03) std::abort();
    if (isEnquiry != (std::memcmp(reply.data() + 1, "MAC:", 4) == 0)) std::abort();
    if (!isEnquiry && reply.size() != 1 + 21 + 1 + 1) std::abort();
    return 0;
}
