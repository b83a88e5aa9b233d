// The process entry shared by the camera binary and the virtual camera.
#pragma once

#include <memory>

#include "platform/platform.h"

// Runs the camera on the given platform until the console says "exit"; at the end of the
// console's input it keeps running until a termination signal ends the process.
// Returns the process exit status; never lets an error escape.
int ptzcam_main(int argc, char** argv, std::shared_ptr<platform::Platform> platform);
