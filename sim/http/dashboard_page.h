// The dashboard page's text (HTML with its style and script), built into the simulator.
#pragma once

#include <string>

namespace sim {

const std::string& dashboardPage();

}  // namespace sim
