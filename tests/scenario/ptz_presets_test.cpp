// Presets through the PTZ service on the virtual camera: the EEPROM layout, save, clear,
// recall of pan, tilt and zoom with the speeds split by travel, refusals, and presets kept
// across a restart of the camera.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "control/ptz.h"
#include "hw/hardware.h"
#include "motion/stepper.h"
#include "sim/app/virtual_camera.h"
#include "support/free_port.h"
#include "support/http_post.h"
#include "support/log_capture.h"
#include "support/quiet_settings.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;
using namespace tmc5041;
using Bytes = std::vector<uint8_t>;

namespace {
sim::SimSettings fast(bool servo = true) {
    sim::SimSettings s = quietSettings("none");
    s.motionSpeed = kTestHeadSpeed;
    s.servo.present = servo;
    return s;
}

int32_t le32(const Bytes& b, size_t at) {
    return static_cast<int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24);
}

class Presets : public ::testing::Test {
protected:
    static constexpr const char* kEepromDir = "/sys/bus/i2c/drivers/at24/0-0050";
    void SetUp() override {
        setenv("PTZCAM_IFACE", "lo", 1);
        char pattern[] = "/tmp/ptzcam-presets.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        setenv("PTZCAM_ROOT", root.c_str(), 1);  // kept across restarts, as a given root is
    }
    void TearDown() override {
        stop();
        unsetenv("PTZCAM_ROOT");
        unsetenv("PTZCAM_IFACE");
        std::filesystem::remove_all(root);
    }
    void start(bool servo = true, int httpPort = 0) {
        sim::SimSettings settings = fast(servo);
        settings.httpPort = httpPort;
        camera = std::make_unique<sim::VirtualCamera>(settings);
        if (httpPort != 0) {
            ASSERT_TRUE(camera->serve());
        }
        hw = std::make_shared<hardware>(camera->platform());
        service = std::make_unique<ptz>(nullptr, hw, nullptr, true, "2.4.6_x", camera->platform(),
                                        ViscaPorts{0, 0, 0, 0, 0});
    }
    void stop() {
        service.reset();
        hw.reset();
        camera.reset();
    }
    std::string eepromFile() { return root + kEepromDir + "/eeprom"; }
    Bytes eeprom() {
        std::ifstream in(eepromFile(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // Written before the first start: the file is made erased first, as the camera's root would.
    void writeEeprom(long offset, const Bytes& bytes) {
        if (!std::filesystem::exists(eepromFile())) {
            std::filesystem::create_directories(root + kEepromDir);
            std::ofstream(eepromFile(), std::ios::binary) << std::string(256, '\xFF');
        }
        std::fstream f(eepromFile(), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(offset);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    // On a miss, what the head and the homing thread were doing.
    ::testing::AssertionResult homed() {
        if (waitFor([&] { return service->limitState() == 1; }, 40s)) return ::testing::AssertionSuccess();
        nlohmann::json motors;
        camera->motion().report(motors);
        const Stepper& s = stepper();
        return ::testing::AssertionFailure()
               << "limit_state " << service->limitState() << " pan " << s.pan_left.load() << ".." << s.pan_right.load()
               << " ramp 0x" << std::hex << s.panRampStatus() << " tilt 0x" << s.tiltRampStatus() << std::dec
               << " motors " << motors.dump();
    }
    bool zoomReady() { return waitFor([&] { return stepper().zoom().zoom_ready.load() == 1; }, 40s); }
    Stepper& stepper() { return service->stepperRef(); }
    int32_t actual(int motor) { return static_cast<int32_t>(camera->motion().peek(reg(motor, XACTUAL))); }
    bool standing(int motor) {
        return camera->motion().peek(reg(motor, VACTUAL)) == 0 &&
               camera->motion().peek(reg(motor, XACTUAL)) == camera->motion().peek(reg(motor, XTARGET));
    }
    bool zoomSettled() {
        const auto m = camera->servo()->state();
        return m.moving == 0 && m.position == m.target;
    }
    bool headAt(int32_t tilt, int32_t pan) {
        return waitFor([&] { return actual(0) == tilt && actual(1) == pan && standing(0) && standing(1); }, 20s);
    }
    void moveHead(int32_t tilt, int32_t pan) {
        stepper().moveAbsolute(Stepper::kTilt, tilt, 250000);
        stepper().moveAbsolute(Stepper::kPan, pan, 250000);
        ASSERT_TRUE(headAt(tilt, pan));
    }

    std::string root;
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

TEST_F(Presets, AFreshEepromIsFormattedThenPresetsSavedRecalledClearedAndKept) {
    start();
    Bytes bytes = eeprom();
    ASSERT_EQ(bytes.size(), 256u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(bytes[static_cast<size_t>(12 * i)], 0xFF) << i;
        for (int k = 1; k < 12; ++k) EXPECT_EQ(bytes[static_cast<size_t>(12 * i + k)], 0) << i << " " << k;
        EXPECT_EQ(service->presets().record(i), (PtzPresets::Record{0xFF, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    }
    EXPECT_EQ((Bytes{bytes.begin() + 120, bytes.begin() + 128}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xC2, 0x01, 0x00, 0x55}));
    EXPECT_EQ(stepper().servo_flags.load(), 1);
    const auto state = camera->api().state();
    EXPECT_EQ(state["eeprom"].get<std::string>().substr(240, 16), "ffffffffc2010055");
    EXPECT_EQ(state["ptz"]["servo_flags"], 1);
    EXPECT_EQ(state["zoom"]["present"], true);

    // Save, recall, clear and keep across a restart.
    ASSERT_TRUE(homed());
    ASSERT_TRUE(zoomReady());
    Stepper& s = stepper();
    const int32_t tilt = s.tilt_center - 100000, pan = s.pan_center + 25000;
    moveHead(tilt, pan);
    service->pushCommand({VISCA_PTZ_ZOOM_ABSOLUTE_POS, 12000, 7});
    ASSERT_TRUE(waitFor([&] { return zoomSettled() && camera->servo()->state().position > 2048; }, 10s));
    const int zoom = camera->servo()->state().position;
    s.last_cmd = 2;
    service->pushCommand({VISCA_PTZ_MEMORY_SET, 3, 0});
    ASSERT_TRUE(waitFor([&] { return eeprom()[36] != 0xFF; }, 3s));
    bytes = eeprom();
    // The last drive class, the recall speed byte as it was, tilt, pan, zoom; preset 4 untouched.
    EXPECT_EQ((std::tuple{bytes[36], bytes[37], le32(bytes, 38), le32(bytes, 42), bytes[46] | bytes[47] << 8,
                          bytes[48]}),
              (std::tuple{uint8_t{2}, uint8_t{24}, tilt, pan, zoom, uint8_t{0xFF}}));

    // Away, then back: the longer tilt travel runs at the recall speed, pan a quarter of it.
    moveHead(s.tilt_center, s.pan_center);
    ASSERT_EQ(s.zoom().zoomPosAbs(0, 7), 0);
    ASSERT_TRUE(waitFor([&] { return zoomSettled(); }, 10s));
    camera->motion().writes();
    service->pushCommand({VISCA_PTZ_MEMORY_RECALL, 3, 24});
    ASSERT_TRUE(headAt(tilt, pan));
    ASSERT_TRUE(waitFor([&] { return zoomSettled() && camera->servo()->state().position == zoom; }, 10s));
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
    const PtzPresets::Record five = service->presets().record(5);

    // A restart keeps the presets and the zoom settings: no formatting.
    stop();
    start();
    EXPECT_EQ(service->presets().record(5), five);
    EXPECT_EQ(service->presets().record(3)[0], 0xFF);
    EXPECT_EQ(service->presets().magic(), 0x55);
}

// The zoom codes of the command ring, the zoom step of home, the servo's HTTP fault route and
// a restart through the VISCA target.
TEST_F(Presets, ZoomCommandsThroughTheQueue) {
    const int port = freePort();
    start(true, port);
    ASSERT_TRUE(homed());
    ASSERT_TRUE(zoomReady());
    ZoomServo& z = stepper().zoom();
    const int low = z.zoom_min.load(), high = z.zoom_max.load();
    auto position = [&] { return camera->servo()->state().position; };
    // Tele runs the servo down, wide up (forward direction), each stopping short of its limit.
    service->pushCommand({VISCA_PTZ_ZOOM_TELE, 7, 0});
    EXPECT_TRUE(waitFor([&] { return position() <= low + ZoomServo::kDriveStep && zoomSettled(); }, 10s));
    service->pushCommand({VISCA_PTZ_ZOOM_WIDE, 7, 0});
    EXPECT_TRUE(waitFor([&] { return position() > 2048; }, 10s));
    service->pushCommand({VISCA_PTZ_ZOOM_STOP, 0, 0});
    EXPECT_TRUE(waitFor([&] { return zoomSettled(); }, 2s));
    const int stopped = position();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(position(), stopped);
    EXPECT_LT(stopped, high);
    // Home also centres the zoom.
    service->pushCommand({VISCA_PTZ_HOME, 0, 0});
    EXPECT_TRUE(waitFor([&] { return zoomSettled() && std::abs(position() - (low + high) / 2) <= 1; }, 10s))
        << position();
    // The two settings are written to the EEPROM.
    service->pushCommand({VISCA_PTZ_ZOOM_TORQUE, 300, 0});
    service->pushCommand({VISCA_PTZ_ZOOM_DIRECTION, 1, 0});
    EXPECT_TRUE(waitFor([&] { return eeprom()[124] == 0x2C && eeprom()[125] == 0x01 && eeprom()[126] == 1; }, 3s));
    EXPECT_EQ(camera->api().state()["ptz"]["zoom_max"], high);

    // A silent servo through the HTTP API: the flag drops, zoom commands stop reaching it.
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
}

TEST_F(Presets, RecallRefusals) {
    // Preset 1 lies beyond any pan limit, preset 2 is empty.
    Bytes record = {10, 24, 0, 0, 0, 0, 0x80, 0x96, 0x98, 0x00, 0x00, 0x08};  // pan 10000000
    writeEeprom(12, record);
    writeEeprom(127, {0x55});
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
    EXPECT_EQ(service->presets().PreSave(4, 0), 1);
    EXPECT_EQ((Bytes{eeprom()[58], eeprom()[59]}), (Bytes{0, 0}));
    EXPECT_EQ(service->presets().PreSave(10, 0), 0);
    EXPECT_FALSE(service->presets().presetClear(-1));
    EXPECT_EQ(stepper().servo_flags.load(), 0);
    EXPECT_EQ(camera->api().state()["zoom"]["present"], false);
}

TEST_F(Presets, AMissingOrShortEepromLeavesTheCameraRunning) {
    const std::string file = eepromFile();
    // A directory cannot be opened read-write, not even by root.
    const struct { const char* name; bool directory; const char* message; } cases[] = {
        {"missing", true, "eepromDevice /sys/bus/i2c/drivers/at24/0-0050/eeprom: opening: "},
        {"short", false, "Cannot read eeprom!\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(file);
        std::filesystem::create_directories(c.directory ? file : root + kEepromDir);
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
