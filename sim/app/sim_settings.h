// The simulator's settings, from PTZSIM_* environment variables.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "sim/camera/camera_module_model.h"
#include "sim/fpga/fpga_model.h"
#include "sim/motion/head_mechanics.h"
#include "sim/motion/servo_settings.h"

namespace sim {

struct SimSettings {
    FpgaIdentity fpga;                 // PTZSIM_PLATFORM_ID
    int httpPort = 8090;               // PTZSIM_HTTP; 0 turns the HTTP API off
    bool realtime = false;             // PTZSIM_REALTIME=1 grants SCHED_FIFO
    std::set<std::string> absentUio;   // PTZSIM_UIO_ABSENT=vid_in,ndi_dec,...
    bool videoRegion = true;           // PTZSIM_VIDEO_REGION=0 leaves VadIvo_Video out
    int dtCells = 2;                   // PTZSIM_DT_CELLS=4 writes 64-bit reg cells
    std::string input = "1080p59.94";  // PTZSIM_INPUT: the source on the HDMI input, or "none"
    bool ndiAvailable = true;          // PTZSIM_NDI=0: the NDI library cannot be initialised
    int encoderCores = 4;              // PTZSIM_CORES: 1, 2 or 4 SpeedHQ encoder cores
    int audioRate = 48000;             // PTZSIM_AUDIO_RATE: Hz of the audio input, 0 for none

    HeadGeometry head;                 // PTZSIM_PAN_SWITCHES, PTZSIM_TILT_SWITCH, PTZSIM_TILT_WIRING
    double motionSpeed = 1.0;          // PTZSIM_SPEED: the head's and the zoom's mechanics run this much faster
    ServoSettings servo;               // PTZSIM_SERVO, PTZSIM_ZOOM_TRAVEL
    bool multiport = false;            // PTZSIM_MULTIPORT=present: the adapter on /dev/ttyS1 (without a servo)
    CameraSettings camera;             // PTZSIM_CAMERA_POWER

    static SimSettings fromEnvironment();
};

}  // namespace sim
