// The virtual camera's interface when none is given: the default route's.
#include <gtest/gtest.h>

#include <sstream>

#include "sim/app/network_interface.h"

namespace {
std::string chosen(const std::string& rows) {
    std::istringstream table("Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n" + rows);
    return sim::defaultRouteInterface(table);
}
}  // namespace

TEST(NetworkInterface, DefaultRouteWithTheLowestMetricThatIsUp) {
    EXPECT_EQ(chosen("wlan0\t00000000\t0100A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                     "enp3s0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                     "enp3s0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"),
              "enp3s0");
    // A route that is down, and the halves of the address space a tunnel adds, are not the default.
    EXPECT_EQ(chosen("eth1\t00000000\t0100A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
                     "tun0\t00000000\t00000000\t0001\t0\t0\t0\t00000080\t0\t0\t0\n"
                     "eth2\t00000000\t0100A8C0\t0003\t0\t0\t50\t00000000\t0\t0\t0\n"),
              "eth2");
}

TEST(NetworkInterface, NoDefaultRouteGivesNothing) {
    EXPECT_EQ(chosen(""), "");
    EXPECT_EQ(chosen("eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\ngarbage line\n"), "");
}
