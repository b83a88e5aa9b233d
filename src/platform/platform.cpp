#include "platform/platform.h"

#include <stdexcept>

namespace platform {

namespace {
std::shared_ptr<Platform>& slot() {
    static std::shared_ptr<Platform> current;
    return current;
}
}  // namespace

void install(std::shared_ptr<Platform> platform) { slot() = std::move(platform); }

std::shared_ptr<Platform> installed() {
    if (!slot()) throw std::logic_error("no platform installed");
    return slot();
}

}  // namespace platform
