// The zoom servo control against the servo model on its pseudo-terminal: detection, the
// EEPROM settings, calibration, the drive loop, positioned zoom, a silent servo, restart.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "motion/eeprom_device.h"
#include "motion/zoom_servo.h"
#include "sim/app/virtual_camera.h"
#include "support/log_capture.h"
#include "support/quiet_settings.h"
#include "support/scenario_elapsed.h"
#include "support/thrown_message.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace {
sim::SimSettings settingsWith(bool servo, int travel = 3976) {
    sim::SimSettings s = quietSettings("none");
    s.motionSpeed = 2 * kTestHeadSpeed;
    s.servo.present = servo;
    s.servo.zoomTravel = travel;
    return s;
}

// A zoom servo control on the virtual camera, without the rest of the head (members end in reverse).
struct ZoomRig {
    explicit ZoomRig(const sim::SimSettings& settings, const Bytes& stored = {})
        : camera(std::make_unique<sim::VirtualCamera>(settings)) {
        if (!stored.empty()) {
            std::fstream file(camera->root().eepromFile(), std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(ZoomServo::kTorqueOffset);
            file.write(reinterpret_cast<const char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
        }
        eeprom->open(eepromDevice::kPath);
        zoom = std::make_unique<ZoomServo>(flags, eeprom);
    }
    Bytes stored() {  // torque limit and direction
        std::ifstream file(camera->root().eepromFile(), std::ios::binary);
        Bytes bytes(3);
        file.seekg(ZoomServo::kTorqueOffset).read(reinterpret_cast<char*>(bytes.data()), 3);
        return bytes;
    }
    sim::SmsStsServo::State model() { return camera->servo()->state(); }
    bool startMoving() {
        zoom->zoomServoInit(ZoomServo::kId);
        zoom->startZoomThread();
        return waitFor([&] { return model().moving == 1; }, 5s);
    }
    bool ready() { return waitFor([&] { return zoom->zoom_ready.load() == 1; }, 30s); }

    std::unique_ptr<sim::VirtualCamera> camera;
    std::shared_ptr<eepromDevice> eeprom = std::make_shared<eepromDevice>();
    std::atomic<uint8_t> flags{0};
    std::unique_ptr<ZoomServo> zoom;
};
}  // namespace

// The torque limit and direction from the EEPROM; bad values give the defaults, written back.
TEST(ZoomServoDetection, FindsTheServoWithItsEepromSettingsOrLeavesTheFlagClearAndAnUnopenablePortIsFatal) {
    const struct {
        Bytes stored;  // bytes 124..126
        int torque, reverse;
        Bytes after;
    } cases[] = {
        {{0xFF, 0xFF, 0xFF}, 450, 0, {0xC2, 0x01, 0x00}},  // erased
        {{0xB0, 0x04, 0x01}, 450, 1, {0xC2, 0x01, 0x01}},  // torque 1200
        {{0xE8, 0x03, 0x02}, 1000, 0, {0xE8, 0x03, 0x00}},  // direction 2
        {{0xE9, 0x03, 0x01}, 450, 1, {0xC2, 0x01, 0x01}},  // torque 1001
        {{0x2C, 0x01, 0x01}, 300, 1, {0x2C, 0x01, 0x01}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.stored));
        ZoomRig rig(settingsWith(true), c.stored);
        ASSERT_TRUE(rig.zoom->zoomServoInit(ZoomServo::kId));
        EXPECT_EQ((std::tuple{rig.zoom->zoom_torque_limit.load(), rig.zoom->zoom_reverse.load(), rig.flags.load()}),
                  (std::tuple{c.torque, c.reverse, 1}));
        EXPECT_EQ(rig.stored(), c.after);
        const auto m = rig.model();  // step mode, centred where it stands
        EXPECT_EQ((std::tuple{m.mode, m.torqueLimit, m.torqueEnable, m.position}), (std::tuple{3, c.torque, 0, 2048}));
        auto& servo = *rig.camera->servo();
        EXPECT_EQ((Bytes{servo.peek(21), servo.peek(22), servo.peek(23), servo.peek(55)}), (Bytes{100, 1, 100, 0}));
    }
    {
        // Without an EEPROM the torque limit is set but not kept.
        ZoomRig rig(settingsWith(true));
        rig.eeprom->close();
        LogCapture log(2);
        EXPECT_FALSE(rig.zoom->setZoomTorqueLimit(500));
        EXPECT_EQ(log.text(), "eepromDevice write: Bad file descriptor\nCannot write eeprom\n");
    }
    {
        ZoomRig rig(settingsWith(false));
        EXPECT_TRUE(rig.zoom->zoomServoInit(ZoomServo::kId));
        EXPECT_EQ(rig.flags.load(), 0);
        EXPECT_FALSE(rig.zoom->servo.isOpen());
        EXPECT_FALSE(rig.zoom->zoomLimitRestart());
        EXPECT_FALSE(rig.zoom->threadRunning());
    }
    ZoomRig rig(settingsWith(true));
    std::filesystem::remove(rig.camera->root().path() + "/dev/ttyS1");
    EXPECT_EQ(thrownMessage<std::runtime_error>([&] { rig.zoom->zoomServoInit(ZoomServo::kId); }),
              "Failed to init sms/sts motor");
}

// Ends out of the probing move's reach: the search gives up, says so and leaves the zoom unready.
TEST(ZoomServoCalibration, AnEndOutOfReachLeavesTheZoomUnready) {
    LogCapture log(2);
    {
        ZoomRig rig(settingsWith(true, 30000));
        ASSERT_TRUE(rig.startMoving());
        ASSERT_TRUE(waitFor([&] { return rig.model().torqueEnable == 0 && rig.model().moving == 0; }, 30s));
        EXPECT_EQ(rig.zoom->zoom_ready.load(), 0);
    }
    EXPECT_NE(log.text().find("Zoom calibration: no reverse end within"), std::string::npos) << log.text();
}

// One calibrated servo for restart, the drive loop, positioned zoom and faults.
class CalibratedZoom : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        log = std::make_unique<LogCapture>(5);  // before any thread logs: not redirected under them
        rig = std::make_unique<ZoomRig>(settingsWith(true));
        rig->startMoving();
        rig->ready();
    }
    static void TearDownTestSuite() {
        rig.reset();
        log.reset();
    }
    static std::string logSince(size_t from) { return log->text().substr(from); }
    void SetUp() override {
        ASSERT_TRUE(rig->ready());
        rig->camera->servoLine()->setSilent(false);
        ASSERT_TRUE(waitFor([] { return rig->flags.load() == 1; }, 3s));
        rig->zoom->zoomDrive(0, 1, 0);
    }
    static bool settled() {
        const auto m = rig->model();
        return m.moving == 0 && m.speed == 0;
    }
    static inline std::unique_ptr<ZoomRig> rig;
    static inline std::unique_ptr<LogCapture> log;
};

TEST_F(CalibratedZoom, DriveLoopStepsAheadAndStopsShortOfTheLimits) {
    ZoomServo& z = *rig->zoom;
    // zoom_width = 10000 - the position read at the far end, after centring at the near end; the
    // centre sits width / 2 below the far end, in position mode with the torque on.
    EXPECT_EQ((std::tuple{z.zoom_width.load(), z.zoom_min.load(), z.zoom_max.load()}), (std::tuple{3976, 110, 3986}));
    const auto m = rig->model();
    EXPECT_EQ((std::tuple{m.mode, m.torqueEnable, m.position}), (std::tuple{0, 1, 2048}));
    EXPECT_NEAR(m.physical, 3976 - 3976 / 2, 1.0);
    const int low = z.zoom_min.load(), high = z.zoom_max.load(), step = ZoomServo::kDriveStep;
    // VISCA sense: positive is tele, which runs the servo positions down.
    for (const int speed : {-7, 7}) {
        SCOPED_TRACE(speed);
        z.zoomDrive(speed, 1, 0);
        ASSERT_TRUE(waitFor(
            [&] {
                const auto m = rig->model();
                // Each pass aims at most one drive step beyond where the servo stood.
                EXPECT_LE(std::abs(m.target - m.position), step + 40) << m.position;
                return speed < 0 ? m.target >= high - step : m.target <= low + step;
            },
            10s, 2ms));
        std::this_thread::sleep_for(300ms);
        const int t = rig->model().target;
        EXPECT_TRUE(speed < 0 ? t < high && t >= high - step : t > low && t <= low + step) << t;
    }
    const struct { int speed, integer; float f; bool reverse; int dir, servoSpeed, acc; } requests[] = {
        {3, 1, 0, false, 3, 200, 30},     {-7, 1, 0, false, -7, 2400, 70},   {8, 1, 0, false, 0, 30, 5},
        {0, 0, 0.5f, false, 3, 200, 30},  {0, 0, -1.0f, false, -7, 2400, 70}, {0, 0, 2.0f, false, 0, 30, 5},
        {-7, 1, 0, true, 7, 2400, 70}};
    for (const auto& c : requests) {
        z.zoom_reverse = c.reverse;
        z.zoomDrive(c.speed, c.integer, c.f);
        std::lock_guard lock(z.zoom_mutex);
        EXPECT_EQ((std::tuple{z.m_zoom_dir, z.m_zoom_speed, z.m_zoom_acc}), (std::tuple{c.dir, c.servoSpeed, c.acc}))
            << c.speed << " " << c.f;
    }
    z.zoom_reverse = 0;
    z.zoomDrive(0, 1, 0);
}

TEST_F(CalibratedZoom, PositionedZoomScalesAndClamps) {
    ZoomServo& z = *rig->zoom;
    const int low = z.zoom_min.load(), high = z.zoom_max.load();
    const struct { int position, speed, result, target, servoSpeed, acc; } cases[] = {
        {8192, 2, 0, low + 8192 * (high - low) / 16384, 100, 20},  // within a step: single precision
        {20000, 7, 0, high, 2400, 70}, {-4000, 4, 0, low, 400, 40}, {8192, 8, -1, -1, 0, 0}};
    auto& servo = *rig->camera->servo();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position);
        EXPECT_EQ(z.zoomPosAbs(c.position, c.speed), c.result);
        if (c.result != 0) continue;
        const int target = rig->model().target;
        EXPECT_NEAR(target, c.target, 1);
        EXPECT_EQ(servo.peek(41), c.acc);
        EXPECT_EQ(servo.peek(46) | servo.peek(47) << 8, c.servoSpeed);
        ASSERT_TRUE(waitFor([&] { return rig->model().position == target && settled(); }, 10s));
    }
    // Relative from the low end: a quarter of the scale up; beyond the range or too fast refused.
    const int quarter = static_cast<int>(4096 / (16384.0f / static_cast<float>(high - low)));
    EXPECT_EQ(z.zoomPosRel(4096, 7), 0);
    EXPECT_NEAR(rig->model().target, low + quarter, 1);
    ASSERT_TRUE(waitFor([&] { return rig->model().position == rig->model().target && settled(); }, 5s));
    const size_t from = log->text().size();
    EXPECT_EQ(z.zoomPosRel(-4200, 7), -1);
    EXPECT_EQ(z.zoomPosRel(100, 8), -1);
    EXPECT_EQ(z.zoomPosRel(-4096, 7), 0);  // to the low end exactly
    EXPECT_EQ(rig->model().target, low);
    const std::string text = logSince(from);
    EXPECT_NE(text.find("FAILED: Relative Position destination is out of zoom-servo limit area\n"), std::string::npos);
    EXPECT_NE(text.find("FAILED: Relative Position Speed Err 8\n"), std::string::npos);
}

// Eleven unanswered reads clear the servo flag; the first answer sets it again.
TEST_F(CalibratedZoom, ASilentServoClearsTheFlagUntilItAnswers) {
    const size_t from = log->text().size();
    rig->camera->servoLine()->setSilent(true);
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([] { return rig->flags.load() == 0; }, 3s));
    // Eleven reads of 100 ms with 10 ms pauses between them; ten would take 1.1 s at most.
    EXPECT_GT(std::chrono::steady_clock::now() - before, 1150ms);
    // An inquiry's read gives up at the first unanswered one: the socket thread waits on it.
    EXPECT_LT(elapsed([&] { EXPECT_EQ(rig->zoom->presentPosition(), -1); }), 500ms);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(rig->flags.load(), 0);
    rig->camera->servoLine()->setSilent(false);
    ASSERT_TRUE(waitFor([] { return rig->flags.load() == 1; }, 1s));
    const std::string text = logSince(from);
    const size_t lost = text.find("\nZoomServo detect Err.\n\n");
    ASSERT_NE(lost, std::string::npos);
    EXPECT_EQ(text.find("\nZoomServo detect Err.\n\n", lost + 1), std::string::npos);  // once
    EXPECT_NE(text.find("\nZoomServo detect Ok.\n\n", lost), std::string::npos);
    // Flag still set, no present position: a relative move is refused, not guessed.
    const int target = rig->model().target;
    rig->camera->servoLine()->setSilent(true);
    EXPECT_EQ(rig->zoom->zoomPosRel(100, 4), -1);
    EXPECT_EQ(rig->model().target, target);
    rig->camera->servoLine()->setSilent(false);
}

// Close during the calibration a restart begins ends it within a second. Defined last, as it runs last in
// one process: it leaves the shared servo closed.
TEST_F(CalibratedZoom, CloseMidCalibrationIsPrompt) {
    ZoomServo& z = *rig->zoom;
    EXPECT_TRUE(z.zoomLimitRestart());
    EXPECT_TRUE(z.threadRunning());
    ASSERT_TRUE(waitFor([&] { return rig->model().moving == 1; }, 5s));
    std::this_thread::sleep_for(300ms);  // probing the first end, or in one of the long sleeps
    EXPECT_LT(elapsed([&] { z.close(); }), 1s);
    EXPECT_EQ(rig->model().torqueEnable, 0);
    EXPECT_EQ(z.zoom_ready.load(), 0);
}
