// The PTZ service on the virtual camera: presets with the EEPROM layout, save,
// clear, recall with the speeds split by travel, refusals, presets kept across a restart; the zoom
// settings, home and the servo's fault route; the codes the end-to-end suites do not send, what the
// service publishes, and a bounded shutdown.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "control/ptz.h"
#include "hw/hardware.h"
#include "motion/stepper.h"
#include "sim/app/virtual_camera.h"
#include "support/camera_state.h"
#include "support/free_port.h"
#include "support/http_post.h"
#include "support/log_capture.h"
#include "support/quiet_settings.h"
#include "support/scenario_elapsed.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;
using namespace tmc5041;
using Bytes = std::vector<uint8_t>;

namespace {
int32_t le32(const Bytes& b, size_t at) {
    return static_cast<int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24);
}

class Presets : public ::testing::Test {
protected:
    static constexpr const char* kEepromDir = "/sys/bus/i2c/drivers/at24/0-0050";
    void SetUp() override {
        setenv("PTZCAM_IFACE", "lo", 1);
        setenv("PTZCAM_ROOT", scratch.path.c_str(), 1);  // kept across restarts, as a given root is
    }
    void TearDown() override {
        stop();
        unsetenv("PTZCAM_ROOT");
        unsetenv("PTZCAM_IFACE");
    }
    void start(bool servo = true, int httpPort = 0) {
        sim::SimSettings settings = quietSettings("none");
        settings.motionSpeed = kTestHeadSpeed;
        settings.servo.present = servo;
        settings.httpPort = httpPort;
        camera = std::make_unique<sim::VirtualCamera>(settings);
        if (httpPort != 0) { ASSERT_TRUE(camera->serve()); }
        hw = std::make_shared<hardware>(camera->platform());
        service = std::make_unique<ptz>(nullptr, hw, nullptr, true, "2.4.6_x", camera->platform(),
                                        ViscaPorts{0, 0, 0, 0, 0});
    }
    void stop() {
        service.reset();
        hw.reset();
        camera.reset();
    }
    std::string eepromFile() { return scratch.path + kEepromDir + "/eeprom"; }
    Bytes eeprom() {
        std::ifstream in(eepromFile(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    bool homed() { return waitFor([&] { return service->limitState() == 1; }, 40s); }
    bool zoomReady() { return waitFor([&] { return stepper().zoom().zoom_ready.load() == 1; }, 40s); }
    Stepper& stepper() { return service->stepperRef(); }
    int zoom() { return camera->servo()->state().position; }
    bool headAt(int32_t tilt, int32_t pan) {
        auto at = [&](int motor, int32_t where) {
            auto& m = camera->motion();
            return m.peek(reg(motor, VACTUAL)) == 0 && m.peek(reg(motor, XACTUAL)) == uint32_t(where) &&
                   m.peek(reg(motor, XTARGET)) == uint32_t(where);
        };
        return waitFor([&] { return at(0, tilt) && at(1, pan); }, 20s);
    }

    ScratchRoot scratch;
    std::unique_ptr<sim::VirtualCamera> camera;
    std::shared_ptr<hardware> hw;
    std::unique_ptr<ptz> service;
};
}  // namespace

TEST(PresetSpeeds, RecallAndZoomSpeedIndices) {
    const struct { int direct; float speed; int index; } recalls[] = {
        {1, 0, 1}, {1, 3.9f, 3}, {1, 30, 24}, {0, 0, 24}, {0, 0.5f, 12}, {0, -0.5f, 12}, {0, 0.01f, 24}, {0, 2.0f, 24},
        {0, 1.0f, 24}};
    for (const auto& r : recalls)
        EXPECT_EQ(PtzPresets::recallSpeedIndex(r.direct, r.speed), r.index) << r.direct << " " << r.speed;
    // index / 3 - 1; indices 1 and 2 would give -1: the slowest entry instead.
    const int zoom[25] = {0, 0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6, 6, 7};
    for (int i = 1; i <= 24; ++i) EXPECT_EQ(PtzPresets::zoomSpeedIndex(i), zoom[i]) << i;
}

TEST_F(Presets, StartUpSettingsSelectDegreeModeVersionAndSpeedUp) {
    const struct { const char* config; uint32_t degreeCode; const char* version; float speedUp; bool panReverse; } cases[] = {
        {"PtzLimitDegree=200\n", 4, "2.4.6_150(M)", 1.0f, false},
        {"PtzLimitDegree=150\nPAN_REVERSE=true\n", 4, "2.4.6_150-Reverse", 1.0f, true},
        {"PtzLimitDegree=0\nPtzMaxSpeedUp=2.0\n", 1, "2.4.6_0(M)", 1.6f, false},
        {"PtzLimitDegree=350\nTILT_REVERSE=TRUE\n", 0, "2.4.6_350(M)", 1.0f, false},
        {nullptr, 2, "2.4.6_90(M)", 1.0f, false},  // the defaults written on first start
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config ? c.config : "(none)");
        std::filesystem::remove_all(scratch.path + "/root/server");
        if (c.config) {
            std::filesystem::create_directories(scratch.path + "/root/server");
            std::ofstream(scratch.path + "/root/server/config.cfg") << c.config;
        }
        start(false);
        EXPECT_EQ(camera->fpga().peek(1026), c.degreeCode);
        EXPECT_EQ(service->networkInfo().version_string, c.version);
        EXPECT_EQ((std::tuple{service->motion().max_speed_up.load(), service->motion().pan_reverse.load(),
                              service->motion().tilt_reverse.load()}), (std::tuple{c.speedUp, uint8_t(c.panReverse), uint8_t(0)}));
        stop();
    }
}

TEST_F(Presets, AFreshEepromIsFormattedThenPresetsSavedRecalledClearedAndKeptBesideTheZoomSettings) {
    const int port = freePort();
    start(true, port);
    Bytes bytes = eeprom();
    ASSERT_EQ(bytes.size(), 256u);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(service->presets().record(i), (PtzPresets::Record{0xFF, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})) << i;
    EXPECT_EQ((Bytes{bytes.begin() + 108, bytes.begin() + 128}),
              (Bytes{0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xC2, 0x01, 0x00, 0x55}));
    EXPECT_EQ(camera->api().state()["eeprom"].get<std::string>().substr(240, 16), "ffffffffc2010055");
    EXPECT_EQ(camera->fpga().peek(1026), 2u);  // the default degree mode
    ASSERT_TRUE(homed());
    ASSERT_TRUE(zoomReady());
    service->pushCommand({VISCA_PTZ_TALLY, 1.0f, 0});
    EXPECT_TRUE(waitFor([&] { return camera->fpga().peek(1025) == 1; }));
    EXPECT_EQ(service->tallyOn(), 1);
    service->pushCommand({VISCA_PTZ_TALLY, 0, 0});
    EXPECT_TRUE(waitFor([&] { return camera->fpga().peek(1025) == 2; }));
    const struct { int32_t code; int mode; } balance[] = {
        {NDI_WB_OUTDOOR, 3}, {VISCA_PTZ_WB_MANUAL, 5}, {VISCA_PTZ_WB_INDOOR, 1}, {NDI_WB_AUTO, 0}};
    for (const auto& b : balance) {
        service->pushCommand({b.code, 0, 0});
        EXPECT_TRUE(waitFor([&] { return service->whiteBalanceMode() == b.mode; })) << b.code;
    }
    Stepper& s = stepper();
    const nlohmann::json ptz = camera->api().state()["ptz"];
    EXPECT_EQ((std::tuple{ptz["limit_state"], ptz["pan_center"], ptz["pan_right"], ptz["tilt_up"], ptz["tilt_down"]}),
              (std::tuple{1, s.pan_center.load(), s.pan_right.load(), s.tilt_up.load(), s.tilt_down.load()}));
    const int32_t tilt = s.tilt_center - 100000, pan = s.pan_center + 25000;
    s.moveAbsolute(Stepper::kTilt, tilt, 250000);
    s.moveAbsolute(Stepper::kPan, pan, 250000);
    ASSERT_TRUE(headAt(tilt, pan));
    service->pushCommand({VISCA_PTZ_ZOOM_ABSOLUTE_POS, 12000, 7});
    ASSERT_TRUE(waitFor([&] { return camera->servo()->state().moving == 0 && zoom() > 2048; }, 10s));
    const int zoomed = zoom();
    // The inquiries read the zoom where it stands.
    const ZoomReading reading = service->readZoom();
    EXPECT_EQ((std::tuple{reading.raw, reading.min, reading.max, service->zoomUnknown(), service->zoomSettings().servo_flags & 1}),
              (std::tuple{zoomed, s.zoom().zoom_min.load(), s.zoom().zoom_max.load(), false, 1}));
    s.last_cmd = 2;
    service->pushCommand({VISCA_PTZ_MEMORY_SET, 3, 0});
    ASSERT_TRUE(waitFor([&] { return eeprom()[36] != 0xFF; }, 3s));
    bytes = eeprom();
    // The last drive class, the recall speed byte as it was, tilt, pan, zoom; preset 4 untouched.
    EXPECT_EQ((std::tuple{bytes[36], bytes[37], le32(bytes, 38), le32(bytes, 42), bytes[46] | bytes[47] << 8,
                          bytes[48]}),
              (std::tuple{uint8_t{2}, uint8_t{24}, tilt, pan, zoomed, uint8_t{0xFF}}));
    // Home centres the zoom too; back at the preset, the longer tilt travel runs at the recall
    // speed, pan a quarter of it.
    ZoomServo& z = s.zoom();
    const int low = z.zoom_min.load(), high = z.zoom_max.load();
    service->pushCommand({VISCA_PTZ_HOME, 0, 0});
    ASSERT_TRUE(headAt(s.tilt_center, s.pan_center));
    EXPECT_TRUE(waitFor([&] { return std::abs(zoom() - (low + high) / 2) <= 1; }, 10s)) << zoom();
    camera->motion().writes();
    service->pushCommand({VISCA_PTZ_MEMORY_RECALL, 3, 24});
    ASSERT_TRUE(headAt(tilt, pan));
    ASSERT_TRUE(waitFor([&] { return camera->servo()->state().moving == 0 && zoom() == zoomed; }, 10s));
    uint32_t vmax[2] = {0, 0};
    for (const auto& w : camera->motion().writes())
        for (int motor : {0, 1})
            if (w.reg == reg(motor, VMAX)) vmax[motor] = w.value;
    EXPECT_EQ(vmax[0], 250000u);
    EXPECT_EQ(vmax[1], 62500u);
    // VISCA speed byte: changed in memory only.
    service->setPresetSpeed(3, 5);
    EXPECT_EQ(service->presetSpeed(3), 5);
    EXPECT_EQ(eeprom()[37], 24);
    service->pushCommand({VISCA_PTZ_MEMORY_SET, 5, 0});
    ASSERT_TRUE(waitFor([&] { return eeprom()[60] != 0xFF; }, 3s));
    service->pushCommand({VISCA_PTZ_MEMORY_RESET, 3, 0});
    ASSERT_TRUE(waitFor([&] { return eeprom()[36] == 0xFF; }, 3s));
    bytes = eeprom();
    EXPECT_EQ((Bytes{bytes.begin() + 36, bytes.begin() + 48}), (Bytes{0xFF, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    // The zoom settings are written to the EEPROM.
    service->pushCommand({VISCA_PTZ_ZOOM_TORQUE, 300, 0});
    service->pushCommand({VISCA_PTZ_ZOOM_DIRECTION, 1, 0});
    EXPECT_TRUE(waitFor([&] { return eeprom()[124] == 0x2C && eeprom()[125] == 0x01 && eeprom()[126] == 1; }, 3s));
    EXPECT_EQ(camera->api().state()["ptz"]["zoom_max"], high);
    // A silent servo through the HTTP API: the flag drops until it answers.
    EXPECT_EQ(httpPost(port, "/servo", "maybe").status, 400);
    EXPECT_EQ(httpPost(port, "/servo", "silent\n").status, 200);
    EXPECT_TRUE(waitFor([&] { return camera->api().state()["ptz"]["servo_flags"] == 0; }, 3s));
    EXPECT_EQ(camera->api().state()["zoom"]["silent"], true);
    EXPECT_EQ(httpPost(port, "/servo", "answer").status, 200);
    EXPECT_TRUE(waitFor([&] { return stepper().servo_flags.load() == 1; }, 2s));
    // Restart: calibrated again with the new torque limit.
    EXPECT_EQ(service->zoomLimitRestart(), 1);
    EXPECT_EQ(z.zoom_ready.load(), 0);
    ASSERT_TRUE(zoomReady());
    EXPECT_EQ(camera->servo()->state().torqueLimit, 300);
    // The queue's other zoom codes: an NDI position, a relative step, drives one way and the other.
    const auto settled = [&] { return waitFor([&] { return camera->servo()->state().moving == 0; }, 10s); };
    const int lo = z.zoom_min.load(), hi = z.zoom_max.load();
    service->pushCommand({NDI_ZOOM, 0.5f, 0});
    EXPECT_TRUE(waitFor([&] { return std::abs(zoom() - (lo + hi) / 2) <= 1; }, 10s)) << zoom();
    ASSERT_TRUE(settled());
    int from = zoom();
    service->pushCommand({VISCA_PTZ_ZOOM_RELATIVE_POS, 2048, 7});
    EXPECT_TRUE(waitFor([&] { return std::abs(std::abs(zoom() - from) - (hi - lo) / 8) <= 1; }, 10s)) << zoom() - from;
    ASSERT_TRUE(settled());
    int teleWay = 0;
    for (const auto& [code, speed, stop] : {std::tuple{VISCA_PTZ_ZOOM_TELE, 3.0f, VISCA_PTZ_ZOOM_STOP},
                                            {VISCA_PTZ_ZOOM_WIDE, 3.0f, VISCA_PTZ_ZOOM_STOP},
                                            {NDI_ZOOM_SPEED, -0.5f, NDI_ZOOM_SPEED_STOP}}) {
        from = zoom();
        service->pushCommand({code, speed, 0});
        EXPECT_TRUE(waitFor([&] { return std::abs(zoom() - from) > 100; }, 5s)) << code;
        service->pushCommand({stop, 0, 0});
        EXPECT_TRUE(settled()) << code;
        EXPECT_TRUE(zoom() > lo && zoom() < hi) << code << " stopped short of the ends";
        const int way = zoom() > from ? 1 : -1;
        if (code == VISCA_PTZ_ZOOM_TELE) teleWay = way;
        else EXPECT_EQ(way, -teleWay) << code << " zooms out";
    }
    // Reverse settings through the queue are saved to the configuration.
    service->pushCommand({VISCA_PTZ_PAN_REVERSE, 1, 0});
    service->pushCommand({VISCA_PTZ_TILT_REVERSE, 1, 0});
    EXPECT_TRUE(waitFor([&] {
        const std::string text = scratch.config();
        return text.find("PAN_REVERSE=true\n") != std::string::npos && text.find("TILT_REVERSE=true\n") != std::string::npos;
    }));

    const PtzPresets::Record five = service->presets().record(5);
    // Ramp 2 gives 1.2; free mode gives limit state -2; a flood of drives does not hold up the end.
    service->pushCommand({VISCA_PTZ_RAMP_CURVE, 2, 0});
    EXPECT_TRUE(waitFor([&] { return service->motion().max_speed_up.load() == 1.2f; }));
    service->pushCommand({VISCA_PTZ_FREE_STOP, 0, 0});
    EXPECT_TRUE(waitFor([&] { return service->limitState() == -2; }));
    EXPECT_EQ(camera->motion().peek(reg(Stepper::kPan, SW_MODE)), kSwitchStopsOn);
    for (int i = 0; i < 40; ++i) service->pushCommand({VISCA_PTZ_LEFT + i % 2, 3, 3});
    EXPECT_LT(elapsed([&] { service.reset(); }), 1s);
    EXPECT_FALSE(camera->api().state().contains("ptz"));
    // A restart of the camera keeps the presets and the zoom settings: no formatting.
    stop();
    start();
    EXPECT_EQ(service->presets().record(5), five);
    EXPECT_EQ(service->presets().record(3)[0], 0xFF);
    EXPECT_EQ(service->presets().magic(), 0x55);
    EXPECT_EQ(stepper().zoom().zoom_torque_limit.load(), 300);
}

TEST_F(Presets, RecallRefusals) {
    // Preset 1 lies beyond any pan limit, preset 2 is empty.
    std::filesystem::create_directories(scratch.path + kEepromDir);
    Bytes image(256, 0xFF);
    const Bytes record = {10, 24, 0, 0, 0, 0, 0x80, 0x96, 0x98, 0x00, 0x00, 0x08};  // pan 10000000
    std::copy(record.begin(), record.end(), image.begin() + 12);
    image[127] = 0x55;
    std::ofstream(eepromFile(), std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 256);
    LogCapture log(5);  // before the camera's threads log
    start(false);
    EXPECT_EQ(service->presets().PreReCall(1, 1, 24), -1);  // homing still runs
    EXPECT_NE(log.text().find("FAILED: The limit area is not checked.\n"), std::string::npos);
    ASSERT_TRUE(homed());
    camera->motion().writes();
    for (int index : {1, 2, 10}) EXPECT_EQ(service->presets().PreReCall(index, 1, 24), -1) << index;
    EXPECT_NE(log.text().find("FAILED: Preset destination is out of limit area\n"), std::string::npos);
    EXPECT_NE(log.text().find("FAILED: PRESET Index [2] EMPTY\n"), std::string::npos);
    for (const auto& w : camera->motion().writes()) EXPECT_NE(w.reg, reg(1, XTARGET));  // nothing moved
    // Without a servo a saved preset has zoom 0.
    EXPECT_EQ(service->presets().PreSave(9, 0), 1);
    EXPECT_EQ((Bytes{eeprom()[118], eeprom()[119]}), (Bytes{0, 0}));
    EXPECT_EQ(service->presets().PreSave(10, 0), 0);
    EXPECT_FALSE(service->presets().presetClear(-1));
    EXPECT_EQ(stepper().servo_flags.load(), 0);
    EXPECT_EQ(camera->api().state()["zoom"]["present"], false);
}

TEST_F(Presets, AMissingOrShortEepromLeavesTheCameraRunning) {
    const std::string file = eepromFile();
    // A directory cannot be opened read-write, not even by root.
    const struct { bool directory; const char* message; } cases[] = {
        {true, "eepromDevice /sys/bus/i2c/drivers/at24/0-0050/eeprom: opening: "}, {false, "Cannot read eeprom!\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::filesystem::remove_all(file);
        std::filesystem::create_directories(c.directory ? file : scratch.path + kEepromDir);
        if (!c.directory) std::ofstream(file) << "short";
        LogCapture log(2);
        start();
        const std::string text = log.text();
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
        EXPECT_NE(text.find("Preset EEPROM intialize falied.\n"), std::string::npos) << text;
        EXPECT_EQ(stepper().zoom().zoom_torque_limit.load(), 450);
        EXPECT_EQ(stepper().zoom().zoom_reverse.load(), 0);
        EXPECT_EQ(stepper().servo_flags.load(), 1);
        if (c.directory) {
            ASSERT_TRUE(homed());
            EXPECT_EQ(service->presets().PreSave(0, 0), 0);
            EXPECT_NE(log.text().find("eepromDevice write: "), std::string::npos);
        }
        stop();
    }
}
