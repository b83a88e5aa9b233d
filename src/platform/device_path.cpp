#include "platform/device_path.h"

#include <cstdlib>

namespace platform {

std::string devicePath(const std::string& absolutePath) {
    const char* root = std::getenv("PTZCAM_ROOT");
    if (root == nullptr || *root == '\0') return absolutePath;
    std::string prefix(root);
    while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
    return prefix + absolutePath;
}

std::string interfaceName() {
    const char* name = std::getenv("PTZCAM_IFACE");
    return (name != nullptr && *name != '\0') ? name : "eth0";
}

}  // namespace platform
