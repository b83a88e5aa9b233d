// Discovery replies byte for byte, the derived gateway, and reading the interface's identity.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "control/discovery_reply.h"
#include "control/net_info.h"
#include "support/log_capture.h"

namespace {
NetInfo camera() {
    NetInfo info;
    info.mac = {0x02, 0xfc, 0x00, 0x0a, 0xbc, 0x01};
    info.ip = {192, 168, 1, 57};
    info.netmask = {255, 255, 255, 0};
    info.gateway = derivedGateway(info.ip, info.netmask);
    info.version_string = "2.4.6_150";
    return info;
}

std::string text(const visca::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
visca::Bytes bytes(const std::string& s) { return visca::Bytes(s.begin(), s.end()); }

std::string field(const std::string& s) { return s + '\xFF'; }
}  // namespace

TEST(Discovery, EnquiryAtByteOneGetsTheInfoReply) {
    const std::string expected = "\x02" + field("MAC:02-fc-00-0a-bc-01") + field("INFO:network") +
                                 field("MODEL:IPCARD") + field("SOFTVERSION:2.4.6_150") +
                                 field("IPADR:192.168.1.57") + field("MASK:255.255.255.0") +
                                 field("GATEWAY:192.168.1.1") + field("NAME:cameraho") + field("WRITE:on") + "\x03";
    for (const char first : {'\x02', 'x', '\0'})
        EXPECT_EQ(text(discoveryReply(camera(), bytes(first + std::string("ENQ:network")), "camerahost12")), expected);
    EXPECT_EQ(text(discoveryReply(camera(), bytes("\x02" "ENQ:network\xFF\x03 more"), "camerahost12")), expected);
}

TEST(Discovery, ShortHostNamesAreSentWhole) {
    EXPECT_NE(text(discoveryReply(camera(), bytes("-ENQ:network"), "cam")).find(field("NAME:cam")), std::string::npos);
}

TEST(Discovery, AnythingElseGetsTheNak) {
    const std::string nak = "\x02" + field("NAK:02-fc-00-0a-bc-01") + "\x03";
    for (const std::string& other : {std::string("xENQ:networ"), std::string("x"), std::string("xENQ:NETWORK")}) {
        EXPECT_EQ(text(discoveryReply(camera(), bytes(other), "camerahost12")), nak) << other;
    }
}

TEST(Discovery, GatewayIsTheNetworkPartWithHostOne) {
    const struct {
        std::array<uint8_t, 4> ip, mask, gateway;
    } cases[] = {
        {{192, 168, 1, 57}, {255, 255, 0, 0}, {192, 168, 0, 1}},
        {{172, 16, 5, 200}, {255, 255, 255, 128}, {172, 16, 5, 1}},
        {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 1}},
    };
    for (const auto& c : cases) EXPECT_EQ(derivedGateway(c.ip, c.mask), c.gateway);
}

TEST(NetworkInfo, ReadsTheLoopbackInterface) {
    NetInfo info;
    LogCapture log(4);
    EXPECT_EQ(readNetworkInfo(info, "2.4.6", "lo"), 0);
    EXPECT_EQ(info.gateway, (std::array<uint8_t, 4>{127, 0, 0, 1}));
    char host[100] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_STREQ(info.hostname, host);
    EXPECT_EQ(log.text(), "VERSION = v2.4.6\nNAME = " + std::string(host) +
                              "\nHW MAC = 00-00-00-00-00-00\nIP = 127.0.0.1\nNETMASK = 255.0.0.0\nGATEWAY = 127.0.0.1\n");
}

TEST(NetworkInfo, MissingInterfaceLogsEachFailedRequestAndCarriesOn) {
    NetInfo info;
    info.ip = {9, 9, 9, 9};
    LogCapture log(2);
    EXPECT_EQ(readNetworkInfo(info, "2.4.6", "nosuchif9"), 0);
    EXPECT_EQ(log.text(), "Can't get MAC address\nCan't get IP address\nCan't get MASK\n");
    EXPECT_EQ(info.ip, (std::array<uint8_t, 4>{}));
    EXPECT_EQ(info.gateway, (std::array<uint8_t, 4>{0, 0, 0, 1}));
}

TEST(NetworkInfo, UsesTheConfiguredInterfaceByDefault) {
    setenv("PTZCAM_IFACE", "lo", 1);
    NetInfo info;
    EXPECT_EQ(readNetworkInfo(info, "x"), 0);
    unsetenv("PTZCAM_IFACE");
    EXPECT_EQ(info.ip, (std::array<uint8_t, 4>{127, 0, 0, 1}));
}
