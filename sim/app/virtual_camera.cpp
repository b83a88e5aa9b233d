// The board of the virtual camera: every model, where the application meets it, and the
// settings that shape it. Models are built in the member list, fitted in fitModels().
//
//  model            where the application meets it                  seam        settings
//  FpgaModel        ndi_regs (/dev/uio0), lines 0..7 (/dev/uio1..8)  UIO         PTZSIM_PLATFORM_ID, PTZSIM_UIO_ABSENT
//  EncoderCores     block 0, line 0 (ndi_enc)                        UIO         PTZSIM_CORES
//  CaptureEngines   blocks 512 and 528, lines 1 and 2 (vid_in/pvw_in) UIO        PTZSIM_INPUT, PTZSIM_VIDEO_REGION
//  TrackingBlock    block 560, line 4 (vid_track)                    UIO         PTZSIM_INPUT
//  AudioBlock       block 544, line 3 (aud_in), area 3               UIO         PTZSIM_AUDIO_RATE, PTZSIM_PLATFORM_ID
//  HdmiReceiver     /dev/i2c-1, address 0x48                         i2c-dev     PTZSIM_INPUT
//  Tmc5041Model     /dev/spidev32766.0, line 5 (ndi_dec)             spidev      PTZSIM_PAN_SWITCHES, PTZSIM_TILT_SWITCH,
//                                                                                PTZSIM_TILT_WIRING, PTZSIM_BROKEN_SWITCH,
//                                                                                PTZSIM_SPEED
//  SmsStsServo      /dev/ttyS1 (pseudo-terminal), zoom servo ID 1    serial      PTZSIM_SERVO, PTZSIM_ZOOM_TRAVEL,
//                                                                                PTZSIM_SPEED
//  CameraModuleModel block 1024, registers 16 (LANC) and 18 (power)  UIO         PTZSIM_CAMERA_POWER
//  MultiPortModel   /dev/ttyS1 (pseudo-terminal) at 9600 baud,       serial      PTZSIM_MULTIPORT (with PTZSIM_SERVO=none)
//                   in place of the servo
//  NdiStandIn       the NDI library                                  NDI table   PTZSIM_NDI
//  DeviceRoot       /dev/mem, /proc/device-tree/reserved-memory,     files       PTZCAM_ROOT, PTZSIM_DT_CELLS,
//                   /dev/ttyS1 (silent without servo or adapter), the at24                PTZSIM_VIDEO_REGION
//                   EEPROM file (kept in a given root)
#include "sim/app/virtual_camera.h"

#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/http/audio_routes.h"
#include "sim/http/compress_routes.h"
#include "sim/http/dashboard_routes.h"
#include "sim/http/input_routes.h"
#include "sim/http/ndi_routes.h"
#include "sim/http/hdmi_routes.h"
#include "sim/http/servo_routes.h"
#include "sim/media/input_format.h"
#include "sim/motion/spidev_model.h"
#include "sim/status/i2c_bus_device.h"

namespace sim {

namespace {
// Capture engines and encoder cores reach the video region, or the first 512 MiB without one,
// as the application does.
constexpr uint32_t kNoRegionRawSize = 0x20000000;
// The EEPROM file as lower-case hex, as much of it as there is.
std::string eepromHex(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string hex;
    static const char digits[] = "0123456789abcdef";
    for (char c; in.get(c);) {
        const auto byte = static_cast<unsigned char>(c);
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

uint32_t rawPhysical(const SimSettings& settings) { return settings.videoRegion ? MemoryLayout::kVideoPhysical : 0; }
// The FPGA of platform 1 sees the processor's memory with bit 31 set.
uint32_t busBase(const SimSettings& settings) { return settings.fpga.platformId == 1 ? 0x80000000u : 0u; }
uint32_t rawSize(const SimSettings& settings) {
    return settings.videoRegion ? MemoryLayout::kVideoSize : kNoRegionRawSize;
}
}  // namespace

VirtualCamera::VirtualCamera(const SimSettings& settings_)
    : settings(settings_),
      deviceRoot(settings),
      fpgaModel(std::make_shared<FpgaModel>(settings.fpga)),
      simPlatform(std::make_shared<SimPlatform>(fpgaModel, settings)),
      rawWindow(deviceRoot.memory(), rawPhysical(settings), rawSize(settings)),
      reservedWindow(deviceRoot.memory(), MemoryLayout::kReservedPhysical, MemoryLayout::kReservedSize),
      source(*InputFormat::parse(settings.input)),
      captureEngines(std::make_unique<CaptureEngines>(*fpgaModel, source, rawWindow.view())),
      tracker(std::make_shared<TrackingBlock>(*fpgaModel, source)),
      hdmiReceiver(std::make_shared<HdmiReceiver>(source)),
      encoderCores(std::make_shared<EncoderCores>(*fpgaModel, settings.encoderCores, rawWindow.view(),
                                                  reservedWindow.view())),
      motionChip(std::make_shared<Tmc5041Model>(Tmc5041Model::Config{settings.head, settings.motionSpeed},
                                                fpgaModel)),
      audioBlock(std::make_shared<AudioBlock>(*fpgaModel, reservedWindow.view(), settings.audioRate,
                                              busBase(settings))),
      cameraModel(std::make_shared<CameraModuleModel>(settings.camera)) {
    fitModels();
    publishState();
}

void VirtualCamera::fitModels() {
    fpgaModel->attach(EncoderCores::kBlock, EncoderCores::kWords, encoderCores);
    fpgaModel->attach(CaptureEngines::kFullBlock, CaptureEngines::kBlockWords, captureEngines->fullBlock());
    fpgaModel->attach(CaptureEngines::kPreviewBlock, CaptureEngines::kBlockWords, captureEngines->previewBlock());
    fpgaModel->attach(TrackingBlock::kBlock, 1, tracker);
    fpgaModel->attach(AudioBlock::kBlock, AudioBlock::kWords, audioBlock);
    simPlatform->addDevice("/dev/i2c-1", [chip = hdmiReceiver] {
        return std::make_unique<I2cBusDevice>(std::map<uint16_t, std::shared_ptr<I2cTarget>>{{HdmiReceiver::kAddress, chip}});
    });
    simPlatform->addDevice("/dev/spidev32766.0", [chip = motionChip] { return std::make_unique<SpidevModel>(chip); });
    if (settings.servo.present) {
        zoomServo = std::make_shared<SmsStsServo>(SmsStsServo::Config{1, settings.servo.zoomTravel, settings.motionSpeed});
        zoomLine = std::make_unique<ServoLine>(deviceRoot.ttyS1(), zoomServo);
    } else if (settings.multiport) {
        adapter = std::make_unique<MultiPortModel>(deviceRoot.ttyS1());
    }
    fpgaModel->attach(CameraModuleModel::kFirstWord, CameraModuleModel::kWords, cameraModel);
}

void VirtualCamera::publishState() {
    stateApi.addReporter([fpga = fpgaModel](nlohmann::json& state) {
        fpga->report(state);
        // The lamp code and the degree mode, as the application last wrote them.
        state["fpga"]["lamp"] = fpga->peek(1025);
        state["fpga"]["degree"] = fpga->peek(1026);
    });
    // What the application publishes through the platform (the PTZ service's limits).
    stateApi.addReporter([sim = simPlatform](nlohmann::json& state) { sim->reportStatus(state); });
    stateApi.addReporter([this](nlohmann::json& state) {
        state["input"] = source.current().name;
        captureEngines->report(state);
        hdmiReceiver->report(state);
    });
    stateApi.addReporter([chip = motionChip](nlohmann::json& state) { chip->report(state); });
    stateApi.addReporter([this](nlohmann::json& state) {
        if (zoomServo)
            zoomServo->report(state);
        else
            state["zoom"]["present"] = false;
        if (zoomLine) state["zoom"]["silent"] = zoomLine->silent();
        state["eeprom"] = eepromHex(deviceRoot.eepromFile());
        cameraModel->report(state);
        if (adapter)
            adapter->report(state);
        else
            state["multiport"]["present"] = false;
    });
    addServoRoutes(stateApi, zoomLine.get());
    addHdmiRoutes(stateApi, *hdmiReceiver);
    addInputRoutes(stateApi, source);
    addNdiRoutes(stateApi, simPlatform->ndiStandIn());
    addCompressRoutes(stateApi, encoderCores, simPlatform->ndiStandIn(), *captureEngines);
    addAudioRoutes(stateApi, audioBlock, simPlatform->ndiStandIn());
    addDashboardRoutes(stateApi);
}

VirtualCamera::~VirtualCamera() {
    // The HTTP API first, then every model's thread, before the FPGA's lines close.
    stateApi.stop();
    captureEngines->shutdown();
    encoderCores->shutdown();
    audioBlock->shutdown();
    motionChip->shutdown();
    if (zoomLine) zoomLine->shutdown();
    if (adapter) adapter->shutdown();
    fpgaModel->shutdown();
}

bool VirtualCamera::serve() { return settings.httpPort == 0 || stateApi.start(settings.httpPort); }

}  // namespace sim
