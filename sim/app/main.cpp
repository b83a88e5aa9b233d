// ptzcam-sim: the camera application on simulated hardware, a virtual camera on a PC.
#include <cstdio>
#include <exception>

#include "app/entry.h"
#include "platform/signal_watcher.h"
#include "sim/app/network_interface.h"
#include "sim/app/virtual_camera.h"

int main(int argc, char** argv) {
    sim::chooseNetworkInterface();  // before any thread starts: setenv is not thread-safe
    SignalWatcher::block();  // the models' threads start here, before the entry's signal thread
    try {
        sim::VirtualCamera camera(sim::SimSettings::fromEnvironment());
        if (camera.root().scratch()) std::fprintf(stderr, "ptzcam-sim: device root %s\n", camera.root().path().c_str());
        if (!camera.serve())
            std::fprintf(stderr, "ptzcam-sim: cannot serve the HTTP API on port %d (PTZSIM_HTTP)\n",
                         camera.httpPort());
        return ptzcam_main(argc, argv, camera.platform());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
