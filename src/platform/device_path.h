// Every absolute path the application opens goes through here, so that a
// device root (PTZCAM_ROOT) can stand in for the camera's file system.
#pragma once

#include <string>

namespace platform {

// PTZCAM_ROOT prefixed to an absolute path; the path itself when unset.
std::string devicePath(const std::string& absolutePath);

// The network interface the camera serves on: PTZCAM_IFACE, or "eth0".
std::string interfaceName();

}  // namespace platform
