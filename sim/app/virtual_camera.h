// The virtual camera: the device root, every hardware model, the simulated
// platform that hands them to the application, and the HTTP state API.
// virtual_camera.cpp is the board: where each model is fitted.
#pragma once

#include <memory>

#include "sim/app/sim_settings.h"
#include "sim/camera/camera_module_model.h"
#include "sim/camera/multiport_model.h"
#include "sim/fpga/fpga_model.h"
#include "sim/fpga/memory_window.h"
#include "sim/http/state_api.h"
#include "sim/media/audio_block.h"
#include "sim/media/capture_engines.h"
#include "sim/media/encoder_cores.h"
#include "sim/media/tracking_block.h"
#include "sim/media/video_input.h"
#include "sim/motion/servo_line.h"
#include "sim/motion/sms_sts_servo.h"
#include "sim/motion/tmc5041_model.h"
#include "sim/platform/device_root.h"
#include "sim/platform/sim_platform.h"
#include "sim/status/hdmi_receiver.h"

namespace sim {

class VirtualCamera {
public:
    explicit VirtualCamera(const SimSettings& settings);
    ~VirtualCamera();
    VirtualCamera(const VirtualCamera&) = delete;
    VirtualCamera& operator=(const VirtualCamera&) = delete;

    // Starts the HTTP API when the settings give it a port; false when the port is taken.
    bool serve();
    int httpPort() const { return settings.httpPort; }

    std::shared_ptr<SimPlatform> platform() const { return simPlatform; }
    DeviceRoot& root() { return deviceRoot; }
    StateApi& api() { return stateApi; }
    FpgaModel& fpga() { return *fpgaModel; }
    VideoInput& input() { return source; }
    CaptureEngines& capture() { return *captureEngines; }
    TrackingBlock& tracking() { return *tracker; }
    HdmiReceiver& receiver() { return *hdmiReceiver; }
    EncoderCores& encoder() { return *encoderCores; }
    Tmc5041Model& motion() { return *motionChip; }
    AudioBlock& audio() { return *audioBlock; }
    // The zoom servo and its line; null when PTZSIM_SERVO=none.
    SmsStsServo* servo() { return zoomServo.get(); }
    ServoLine* servoLine() { return zoomLine.get(); }
    NdiStandIn& ndi() { return *simPlatform->ndiStandIn(); }
    CameraModuleModel& cameraModule() { return *cameraModel; }
    // Null unless PTZSIM_SERVO=none and PTZSIM_MULTIPORT=present.
    MultiPortModel* multiPort() { return adapter.get(); }

private:
    void fitModels();
    void publishState();

    SimSettings settings;
    DeviceRoot deviceRoot;
    std::shared_ptr<FpgaModel> fpgaModel;
    std::shared_ptr<SimPlatform> simPlatform;
    StateApi stateApi;
    MemoryWindow rawWindow, reservedWindow;
    VideoInput source;
    std::unique_ptr<CaptureEngines> captureEngines;
    std::shared_ptr<TrackingBlock> tracker;
    std::shared_ptr<HdmiReceiver> hdmiReceiver;
    std::shared_ptr<EncoderCores> encoderCores;
    std::shared_ptr<Tmc5041Model> motionChip;
    std::shared_ptr<AudioBlock> audioBlock;
    std::shared_ptr<SmsStsServo> zoomServo;
    std::unique_ptr<ServoLine> zoomLine;
    std::shared_ptr<CameraModuleModel> cameraModel;
    std::unique_ptr<MultiPortModel> adapter;
};

}  // namespace sim
