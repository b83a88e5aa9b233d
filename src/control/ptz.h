// ptz: the camera's control service: owns the Stepper, the command ring and its queue thread,
// the VISCA socket thread and the tally lamp, and executes every queued front-end command.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "control/command_ring.h"
#include "control/debug_command.h"
#include "control/inquiry_source.h"
#include "control/multiport_input.h"
#include "control/ndi_ptz_receiver.h"
#include "control/net_info.h"
#include "control/tally_relay.h"
#include "control/visca_inquiries.h"
#include "control/visca_socket_thread.h"
#include "control/visca_target.h"
#include "motion/camera_module.h"
#include "motion/ptz_motion.h"
#include "motion/ptz_presets.h"
#include "platform/platform.h"
#include "status/tally_lamp.h"

class network_send;
class hardware;
class track;
class Stepper;
class eepromDevice;

class ptz : public ViscaTarget, public InquirySource {
public:
    static constexpr const char* kSpiDevice = "/dev/spidev32766.0";
    static constexpr size_t kPresets = 10;
    static constexpr size_t kPresetBytes = 12;

    // limitCheck: false when started with -t. `ports`: where the VISCA socket thread listens.
    ptz(std::shared_ptr<network_send> sender, std::shared_ptr<hardware> hw, std::shared_ptr<track> signal,
        bool limitCheck, const std::string& version,
        std::shared_ptr<platform::Platform> platform = platform::installed(), ViscaPorts ports = {});
    ~ptz() override;
    ptz(const ptz&) = delete;
    ptz& operator=(const ptz&) = delete;
    // Wakes every thread's waits (the front-ends', the queue's command in progress, the head's,
    // the zoom's) without waiting for any; the destructor joins them.
    void requestStop();

    // ViscaTarget
    void pushCommand(const PtzCommand& command) override;
    int limitState() override;
    HeadLimits headLimits() override;
    int32_t actualPosition(int motor) override;
    void setPositionTargets(int32_t pan_target, int32_t tilt_target) override;
    uint8_t presetSpeed(int index) override;
    void setPresetSpeed(int index, uint8_t speed) override;
    int zoomLimitRestart() override;
    int detectMultiPort() override;

    // InquirySource (headLimits and actualPosition as above)
    bool zoomUnknown() override;
    ZoomReading readZoom() override;
    ZoomSettings zoomSettings() override;
    int cameraPowerGet() override;
    CameraWords cameraWords() override;
    SignalCodes querySignalCodes() override;

    // What queuePTZ does with one record.
    void execute(const PtzCommand& command);
    // The engineering commands, run on the caller's thread outside the ring.
    void debugCommand(unsigned code, DebugArgs args = {});

    const NetInfo& networkInfo() const { return net_info; }
    Stepper& stepperRef() { return *stepper; }
    PtzMotion& motion() { return *motionOps; }
    PtzPresets& presets() { return *presetOps; }
    CameraModule& cameraModule() { return *camera; }
    uint8_t tallyOn() const { return tally_on.load(); }
    int whiteBalanceMode() const { return wb_mode.load(); }
    int32_t limitDegree() const { return limit_degree; }

private:
    struct Settings {
        int32_t limitDegree = 150;
        bool qcMode = false;
        float maxSpeedUp = 1.0f;
        bool panReverse = false;
        bool tiltReverse = false;
    };

    Settings readConfiguration(bool& limitCheck) const;
    void selectDegreeMode(const std::string& version, const Settings& settings);
    void startStepper(bool limitCheck, const Settings& settings);
    void publishStatus();
    void publishNdiCommand(std::map<std::string, long long>& values) const;
    void startThreads(ViscaPorts ports, bool qcMode);

    void executePanTilt(const PtzCommand& command);
    void executeSetting(const PtzCommand& command);
    void executeWhiteBalance(int32_t code);
    // Power, focus, exposure, iris and key codes for the camera module; false for any other code.
    bool executeCamera(const PtzCommand& command);
    void executeIris(const PtzCommand& command, int absolute);
    void toggleExposure();
    void focusModeTo(int mode);
    // Zoom and preset codes; false for any other code.
    bool executeZoomOrPreset(const PtzCommand& command);

    NetInfo net_info;
    std::string config_path;
    std::shared_ptr<platform::Platform> platform;
    std::shared_ptr<network_send> sender;
    std::shared_ptr<hardware> hw;
    std::shared_ptr<track> signal;
    std::shared_ptr<Stepper> stepper;
    std::unique_ptr<PtzMotion> motionOps;
    std::shared_ptr<eepromDevice> eeprom;
    std::unique_ptr<PtzPresets> presetOps;
    std::unique_ptr<CameraModule> camera;
    std::unique_ptr<ViscaInquiries> inquiries;
    std::unique_ptr<MultiPortInput> adapterInput;
    std::unique_ptr<DebugCommand> debug;
    std::unique_ptr<NdiPtzReceiver> ndiReceiver;
    std::unique_ptr<ViscaSocketThread> visca;
    std::unique_ptr<TallyRelay> tallyRelay;
    std::thread queue_thread;
    std::atomic<bool> stop_requested{false};
    CommandRing ring;
    TallyLamp lamp;

    std::atomic<int32_t> cam_power{2};
    std::atomic<int32_t> focus_mode{2};
    std::atomic<int32_t> exposure_mode{2};
    std::atomic<int32_t> wb_mode{6};
    std::atomic<int32_t> video_system{0};
    std::atomic<int32_t> audio_system{0};
    std::atomic<uint8_t> tally_on{0};
    int32_t limit_degree = 150;
};
