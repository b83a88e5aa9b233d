// ptzcam: the camera application on the camera's own Linux devices.
#include <memory>

#include "app/entry.h"
#include "platform/linux_platform.h"

int main(int argc, char** argv) { return ptzcam_main(argc, argv, std::make_shared<platform::LinuxPlatform>()); }
