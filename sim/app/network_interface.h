// Which network interface the virtual camera serves VISCA on when PTZCAM_IFACE is unset:
// the machine's own, the one its default route leaves through, so controllers on the
// network find it; eth0 (the camera's) when there is no default route.
#pragma once

#include <istream>
#include <string>

namespace sim {

// The interface of the default route in a /proc/net/route table (the lowest metric among
// routes that are up), or empty when there is none.
std::string defaultRouteInterface(std::istream& routeTable);

// Sets PTZCAM_IFACE for this process when unset, before the application reads it, and says
// which interface was taken on standard error.
void chooseNetworkInterface();

}  // namespace sim
