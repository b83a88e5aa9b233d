#include "control/discovery_reply.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
constexpr char kEnquiry[] = "ENQ:network";
constexpr size_t kEnquiryLength = sizeof kEnquiry - 1;
constexpr size_t kNameCharacters = 8;

std::string format(const char* fmt, auto... values) {
    char text[160];
    const int length = std::snprintf(text, sizeof text, fmt, values...);
    return std::string(text, static_cast<size_t>(std::max(0, std::min<int>(length, sizeof text - 1))));
}

std::string macText(const NetInfo& info) {
    const auto& m = info.mac;
    return format("%02x-%02x-%02x-%02x-%02x-%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
}

std::string dotted(const std::array<uint8_t, 4>& a) { return format("%u.%u.%u.%u", a[0], a[1], a[2], a[3]); }

void addField(visca::Bytes& reply, const std::string& field) {
    reply.insert(reply.end(), field.begin(), field.end());
    reply.push_back(0xFF);
}

bool isEnquiry(std::span<const uint8_t> datagram) {
    return datagram.size() >= 1 + kEnquiryLength && std::memcmp(datagram.data() + 1, kEnquiry, kEnquiryLength) == 0;
}
}  // namespace

visca::Bytes discoveryReply(const NetInfo& info, std::span<const uint8_t> enquiry, const std::string& hostname) {
    visca::Bytes reply{0x02};
    if (!isEnquiry(enquiry)) {
        addField(reply, "NAK:" + macText(info));
    } else {
        addField(reply, "MAC:" + macText(info));
        addField(reply, "INFO:network");
        addField(reply, "MODEL:IPCARD");
        addField(reply, "SOFTVERSION:" + info.version_string);
        addField(reply, "IPADR:" + dotted(info.ip));
        addField(reply, "MASK:" + dotted(info.netmask));
        addField(reply, "GATEWAY:" + dotted(info.gateway));
        addField(reply, "NAME:" + hostname.substr(0, kNameCharacters));
        addField(reply, "WRITE:on");
    }
    reply.push_back(0x03);
    return reply;
}

std::string currentHostname() {
    char name[100] = {};
    gethostname(name, sizeof name - 1);
    return name;
}
