#include "sim/app/network_interface.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

namespace sim {

namespace {
constexpr unsigned kRouteUp = 0x1;  // RTF_UP
}  // namespace

std::string defaultRouteInterface(std::istream& routeTable) {
    std::string line, best;
    unsigned long bestMetric = std::numeric_limits<unsigned long>::max();
    std::getline(routeTable, line);  // the column titles
    while (std::getline(routeTable, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, mask;
        unsigned flags = 0;
        unsigned long refCount = 0, use = 0, metric = 0;
        if (!(fields >> iface >> destination >> gateway >> std::hex >> flags >> std::dec >> refCount >> use >> metric >>
              mask))
            continue;
        // 0.0.0.0/0 only: the halves 0.0.0.0/1 and 128.0.0.0/1 that tunnels add are not the default.
        const bool isDefault = destination == "00000000" && mask == "00000000";
        if (!isDefault || (flags & kRouteUp) == 0 || metric >= bestMetric) continue;
        best = iface;
        bestMetric = metric;
    }
    return best;
}

void chooseNetworkInterface() {
    if (std::getenv("PTZCAM_IFACE") != nullptr) return;
    std::ifstream routes("/proc/net/route");
    std::string chosen = defaultRouteInterface(routes);
    const char* why = "the default route's";
    if (chosen.empty()) {
        chosen = "eth0";
        why = "no default route";
    }
    setenv("PTZCAM_IFACE", chosen.c_str(), 1);
    std::fprintf(stderr, "ptzcam-sim: serving VISCA on interface %s (%s; PTZCAM_IFACE chooses another)\n",
                 chosen.c_str(), why);
}

}  // namespace sim
