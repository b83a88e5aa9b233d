// The simulated video input and every model that follows it: the capture engines, the tracking
// block and the HDMI receiver on i2c-1.
#pragma once

#include <memory>

#include "sim/media/capture_engines.h"
#include "sim/platform/device_root.h"
#include "sim/fpga/fpga_model.h"
#include "sim/status/hdmi_receiver.h"
#include "sim/platform/sim_platform.h"
#include "sim/app/sim_settings.h"
#include "sim/http/state_api.h"
#include "sim/media/tracking_block.h"
#include "sim/media/video_input.h"

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
