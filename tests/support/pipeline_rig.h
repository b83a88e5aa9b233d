// The media objects as the entry makes them, in-process against a virtual camera: hardware, the
// NDI sender (on the stand-in, behind a timestamping tap, or none), the compressor and, when asked,
// capture with tracking.
#pragma once

#include <cstdint>
#include <memory>

#include "hw/hardware.h"
#include "media/network_send.h"
#include "media/track.h"
#include "media/video_capture.h"
#include "media/video_compress.h"
#include "sim/app/virtual_camera.h"
#include "sim/ndi/ndi_send_tap.h"

class PipelineRig {
public:
    enum class Sender { none, standIn, tap };
    struct Parts {
        Sender sender = Sender::standIn;
        bool capture = true;
        bool fullOnly = false;  // capture without the preview stream
    };

    PipelineRig(const sim::SimSettings& settings, Parts parts);
    ~PipelineRig();
    PipelineRig(const PipelineRig&) = delete;
    PipelineRig& operator=(const PipelineRig&) = delete;
    // The test source painted into the raw video window at `offset`, and a progressive frame of
    // `stream` pointing at it (rate and timecode left to the caller).
    std::shared_ptr<video_capture::frame_t> paintedFrame(int width, int height, int stream, uint32_t offset,
                                                         uint64_t pictureNumber);

    sim::VirtualCamera camera;
    std::shared_ptr<sim::NdiSendTap> tap;
    std::shared_ptr<hardware> hw;
    std::shared_ptr<network_send> sender;
    std::shared_ptr<video_compress> compressor;
    std::shared_ptr<video_capture> grabber;
    std::shared_ptr<track> tracking;
};
