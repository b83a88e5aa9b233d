// The simulated video input and every model that follows it: the capture engines, the tracking
// block and the HDMI receiver on i2c-1.
#pragma once

#include <memory>

#include "capture_engines.h"
#include "device_root.h"
#include "fpga_model.h"
#include "hdmi_receiver.h"
#include "sim_platform.h"
#include "sim_settings.h"
#include "state_api.h"
#include "tracking_block.h"
#include "video_input.h"

namespace sim {

class VideoInputModels {
public:
    VideoInputModels(const SimSettings& settings, DeviceRoot& root, FpgaModel& fpga, SimPlatform& platform,
                     StateApi& api);
    ~VideoInputModels();
    VideoInputModels(const VideoInputModels&) = delete;
    VideoInputModels& operator=(const VideoInputModels&) = delete;

    VideoInput& input() { return source; }
    CaptureEngines& capture() { return *engines; }
    TrackingBlock& tracking() { return *tracker; }
    HdmiReceiver& receiver() { return *hdmi; }
    // Stops the source's clock; called before the FPGA's lines close.
    void shutdown();

private:
    DeviceRoot& root;
    RawWindow raw;
    VideoInput source;
    std::unique_ptr<CaptureEngines> engines;
    std::shared_ptr<TrackingBlock> tracker;
    std::shared_ptr<HdmiReceiver> hdmi;
};

}  // namespace sim
