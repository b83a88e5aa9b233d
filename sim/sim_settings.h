// The simulator's settings, from PTZSIM_* environment variables.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "fpga_model.h"

namespace sim {

struct SimSettings {
    FpgaIdentity fpga;                 // PTZSIM_PLATFORM_ID
    int httpPort = 8090;               // PTZSIM_HTTP; 0 turns the HTTP API off
    bool realtime = false;             // PTZSIM_REALTIME=1 grants SCHED_FIFO
    std::set<std::string> absentUio;   // PTZSIM_UIO_ABSENT=vid_in,ndi_dec,...
    bool videoRegion = true;           // PTZSIM_VIDEO_REGION=0 leaves VadIvo_Video out
    int dtCells = 2;                   // PTZSIM_DT_CELLS=4 writes 64-bit reg cells

    static SimSettings fromEnvironment();
};

}  // namespace sim
