#include "control/ptz.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/config_parser.h"
#include "base/log.h"
#include "base/version.h"
#include "control/command_loop.h"
#include "hw/hardware.h"
#include "media/network_send.h"
#include "media/track.h"
#include "motion/eeprom_device.h"
#include "motion/stepper.h"
#include "platform/device_path.h"
#include "platform/thread_name.h"

namespace {
constexpr uint32_t kDegreeBlock = 1024;
constexpr uint32_t kDegreeRegister = 2;

// The degree register code of a PtzLimitDegree value; unknown values run as 150.
uint32_t degreeCode(int32_t degree) {
    switch (degree) {
        case 0: return 1;
        case 90: return 2;
        case 350: return 0;
        default: return 4;
    }
}

const char* flagText(bool value) { return value ? "true" : "false"; }
}  // namespace

ptz::ptz(std::shared_ptr<network_send> sender_, std::shared_ptr<hardware> hw_, std::shared_ptr<track> signal_,
         bool limitCheck, const std::string& version, std::shared_ptr<platform::Platform> platform_,
         ViscaPorts ports)
    : config_path(platform::devicePath(kConfigFile)),
      platform(std::move(platform_)),
      sender(std::move(sender_)),
      hw(std::move(hw_)),
      signal(std::move(signal_)),
      eeprom(std::make_shared<eepromDevice>()),
      presetOps(std::make_unique<PtzPresets>(eeprom)),
      lamp(hw) {

    const std::string cut = version.substr(0, version.find('_'));
    std::printf("[ v%s ", cut.c_str());
    std::fflush(stdout);
    readNetworkInfo(net_info, cut);
    if (!presetOps->presetLoad()) logAt(2, "Preset EEPROM intialize falied.\n");

    const Settings settings = readConfiguration(limitCheck);
    if (limitCheck)
        std::printf("\n##KOVA (%d Degree) mode.\n\n", settings.limitDegree);
    else
        logAt(4, "\n##KOVA limit check disable mode.\n\n");
    std::fflush(stdout);
    selectDegreeMode(cut, settings);
    startStepper(limitCheck, settings);
    camera = std::make_unique<CameraModule>(hw, stepper->multiport_mode, stepper->servo_flags, stepper->multiPort());
    cam_power = cameraPowerGet();
    const SignalCodes codes = querySignalCodes();
    logAt(5, "hdmi status %X %X\n", codes.video, codes.audio);
    startThreads(ports, settings.qcMode);
    publishStatus();
}

// All are asked at once, so their waits (the tally poll's 500 ms, the metadata capture's
// 200 ms, a LANC key's hold, an adapter probe) overlap.
void ptz::requestStop() {
    stop_requested = true;
    if (ndiReceiver) ndiReceiver->requestStop();
    if (visca) visca->requestStop();
    if (tallyRelay) tallyRelay->requestStop();
    if (camera) camera->stop();  // a power sequence in progress ends its polls
    if (stepper) stepper->requestStop();
}

ptz::~ptz() {
    logAt(5, "~ptz\n");
    if (platform) platform->publishStatus("ptz", {});
    requestStop();
    // The front-ends use this object: they go before anything they read. The tally relay ends
    // before the queue, so a tally command it pushed last is still carried out.
    if (ndiReceiver) ndiReceiver->stop();
    if (visca) visca->stop();
    if (tallyRelay) tallyRelay->stop();
    ring.push({PTZ_QUIT, 0, 0});
    if (queue_thread.joinable()) queue_thread.join();
    eeprom->close();
    visca.reset();
    adapterInput.reset();
    inquiries.reset();
    camera.reset();
    tallyRelay.reset();
    ndiReceiver.reset();
    debug.reset();
    presetOps.reset();
    motionOps.reset();
    stepper.reset();
    signal.reset();
    hw.reset();
    sender.reset();
}

ptz::Settings ptz::readConfiguration(bool& limitCheck) const {
    Settings s;
    configParser config(config_path);
    if (!config.ready) {
        std::puts("configParser Err\r");
        return s;
    }
    uint32_t degree = static_cast<uint32_t>(s.limitDegree);
    config.getValue("PtzLimitDegree", degree);
    s.limitDegree = static_cast<int32_t>(degree);
    config.getValue("PtzMaxSpeedUp", s.maxSpeedUp);
    auto isTrue = [&config](const char* key) {
        std::string text;
        config.getValue(key, text);
        return text == "true";
    };
    const bool limitEnable = isTrue("LimitChkEnable");
    if (limitEnable) limitCheck = true;  // "false" does not clear what the command line asked
    s.qcMode = isTrue("PTZ_QC_ENABLE");
    s.panReverse = isTrue("PAN_REVERSE");
    s.tiltReverse = isTrue("TILT_REVERSE");

    logAt(2, "%s read success.\n", config_path.c_str());
    logAt(5, "PtzLimitDegree %d\n", s.limitDegree);
    logAt(5, "LimitChkEnable %s\n", flagText(limitEnable));
    logAt(5, "PTZ_QC_ENABLE %s\n", flagText(s.qcMode));
    logAt(5, "PtzMaxSpeedUp %f\n", static_cast<double>(s.maxSpeedUp));
    logAt(5, "PAN_REVERSE %s\n", flagText(s.panReverse));
    logAt(5, "TILT_REVERSE %s\n", flagText(s.tiltReverse));

    if (s.limitDegree != 0) std::printf("\n KOVA PTZ Limit Degree %d!\r\n", s.limitDegree);
    if (limitCheck) std::puts("\n KOVA PTZ Limit Check Enable\r");
    if (s.qcMode) std::puts("\n\n KOVA PTZ QC MODE!!!!!!!");
    if (s.maxSpeedUp > 1.6f) s.maxSpeedUp = 1.6f;
    std::printf("\n KOVA PTZ PtzMaxSpeedUp!!!!!!! (%f)\n", static_cast<double>(s.maxSpeedUp));
    if (s.panReverse) std::puts("\n KOVA PTZ PAN_REVERSE!!!!!!!");
    if (s.tiltReverse) std::puts("\n KOVA PTZ TILT_REVERSE!!!!!!!");
    return s;
}

void ptz::selectDegreeMode(const std::string& version, const Settings& settings) {
    limit_degree = settings.limitDegree;
    hw->write32(kDegreeBlock, kDegreeRegister, degreeCode(settings.limitDegree));
    net_info.version_string =
        marked_version(version, settings.limitDegree, settings.panReverse || settings.tiltReverse);
    std::printf("\nKOVA Version v%s\n\n", net_info.version_string.c_str());
    std::fflush(stdout);
}

void ptz::startStepper(bool limitCheck, const Settings& settings) {
    stepper = std::make_shared<Stepper>(hw, static_cast<uint8_t>(limitCheck ? 1 : 0), eeprom, settings.limitDegree,
                                        settings.maxSpeedUp, platform);
    presetOps->attach(stepper);
    motionOps = std::make_unique<PtzMotion>(stepper, config_path);
    motionOps->pan_reverse = settings.panReverse ? 1 : 0;
    motionOps->tilt_reverse = settings.tiltReverse ? 1 : 0;
    motionOps->qc_mode = settings.qcMode ? 1 : 0;
    motionOps->max_speed_up = settings.maxSpeedUp;
    if (!stepper->begin(kSpiDevice)) logAt(2, "Error TMC5041 Motor intialize falied.\n");
}

// The homed limits, for whoever watches the camera (the simulator's state document).
void ptz::publishStatus() {
    if (!platform) return;
    platform->publishStatus("ptz", [this, s = stepper.get()](std::map<std::string, long long>& values) {
        values["limit_state"] = s->limit_state.load();
        values["pan_center"] = s->pan_center.load();
        values["tilt_center"] = s->tilt_center.load();
        values["pan_left"] = s->pan_left.load();
        values["pan_right"] = s->pan_right.load();
        values["tilt_up"] = s->tilt_up.load();
        values["tilt_down"] = s->tilt_down.load();
        ZoomServo& zoom = s->zoom();
        values["zoom_ready"] = zoom.zoom_ready.load();
        values["zoom_min"] = zoom.zoom_min.load();
        values["zoom_max"] = zoom.zoom_max.load();
        values["servo_flags"] = s->servo_flags.load();
        publishNdiCommand(values);
    });
}

// The last receiver record: its code and arguments in thousandths.
void ptz::publishNdiCommand(std::map<std::string, long long>& values) const {
    if (!ndiReceiver) return;
    const PtzCommand last = ndiReceiver->lastCommand();
    values["last_ndi_command.code"] = last.code;
    values["last_ndi_command.arg1_milli"] = std::llround(static_cast<double>(last.arg1) * 1000.0);
    values["last_ndi_command.arg2_milli"] = std::llround(static_cast<double>(last.arg2) * 1000.0);
}

void ptz::startThreads(ViscaPorts ports, bool qcMode) {
    debug = std::make_unique<DebugCommand>(*stepper, hw);
    ndiReceiver = std::make_unique<NdiPtzReceiver>(sender, *this);
    ndiReceiver->start();
    visca = std::make_unique<ViscaSocketThread>(*this, net_info, ports);
    inquiries = std::make_unique<ViscaInquiries>(*this);
    visca->setInquiryAnswer([this](int kind, int) { return inquiries->answer(kind); });
    adapterInput = std::make_unique<MultiPortInput>(stepper->multiPort());
    // The adapter's port is watched only in MultiPort mode; a probe may reopen it at any time.
    visca->setSerialInput(
        {[this] { return stepper->multiport_mode.load() != 0 ? stepper->multiPort().descriptor() : -1; },
         [this] { adapterInput->serve(); }});
    visca->start();
    tallyRelay = std::make_unique<TallyRelay>(sender, *this, *stepper, lamp, *debug, qcMode);
    tallyRelay->start();
    queue_thread = std::thread([this] {
        set_thread_name("queuePTZ");
        runCommandLoop(ring, stop_requested, [this](const PtzCommand& command) { execute(command); });
    });
}

void ptz::pushCommand(const PtzCommand& command) { ring.push(command); }

void ptz::debugCommand(unsigned code, DebugArgs args) { debug->run(code, args); }

int ptz::limitState() { return stepper->limit_state.load(); }

HeadLimits ptz::headLimits() {
    const Stepper& s = *stepper;
    return {s.pan_center.load(), s.tilt_center.load(), s.pan_left.load(),
            s.pan_right.load(),  s.tilt_up.load(),     s.tilt_down.load()};
}

int32_t ptz::actualPosition(int motor) {
    uint32_t value = 0;
    stepper->readRegister(tmc5041::reg(motor == kPanMotor ? Stepper::kPan : Stepper::kTilt, tmc5041::XACTUAL), value);
    return static_cast<int32_t>(value);
}

void ptz::setPositionTargets(int32_t pan_target, int32_t tilt_target) {
    stepper->pan_target = pan_target;
    stepper->tilt_target = tilt_target;
}

// The decoder (viscaPTZ) and the preset operations share these bytes; each is one atomic byte.
uint8_t ptz::presetSpeed(int index) { return presetOps->presetSpeed(index); }

void ptz::setPresetSpeed(int index, uint8_t speed) { presetOps->setPresetSpeed(index, speed); }

int ptz::zoomLimitRestart() { return stepper->zoomLimitRestart() ? 1 : 0; }

int ptz::detectMultiPort() { return stepper->detectMultiPort() ? 1 : 0; }
