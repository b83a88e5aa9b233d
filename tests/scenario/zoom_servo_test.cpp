// The zoom servo control against the servo model on its pseudo-terminal: detection, the
// EEPROM settings, calibration, the drive loop, positioned zoom, a silent servo, restart.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "motion/eeprom_device.h"
#include "motion/zoom_servo.h"
#include "sim/app/virtual_camera.h"
#include "support/log_capture.h"
#include "support/quiet_settings.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
#ifdef __SANITIZE_THREAD__
constexpr double kServoSpeed = 10;
#else
constexpr double kServoSpeed = 20;
#endif

sim::SimSettings settingsWith(bool servo, int travel = 3976) {
    sim::SimSettings s = quietSettings("none");
    s.motionSpeed = kServoSpeed;
    s.servo.present = servo;
    s.servo.zoomTravel = travel;
    return s;
}

// A zoom servo control on the virtual camera, without the rest of the head.
struct ZoomRig {
    explicit ZoomRig(const sim::SimSettings& settings, const std::vector<uint8_t>& eepromBytes = {}) {
        camera = std::make_unique<sim::VirtualCamera>(settings);
        if (!eepromBytes.empty()) {
            std::fstream file(camera->root().eepromFile(), std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(ZoomServo::kTorqueOffset);
            file.write(reinterpret_cast<const char*>(eepromBytes.data()), static_cast<std::streamsize>(eepromBytes.size()));
        }
        eeprom = std::make_shared<eepromDevice>();
        eeprom->open(eepromDevice::kPath);
        zoom = std::make_unique<ZoomServo>(flags, eeprom);
    }
    ~ZoomRig() {
        zoom.reset();
        eeprom.reset();
        camera.reset();
    }
    std::vector<uint8_t> eepromBytes(long offset, size_t n) {
        std::ifstream file(camera->root().eepromFile(), std::ios::binary);
        file.seekg(offset);
        std::vector<uint8_t> bytes(n);
        file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(n));
        return bytes;
    }
    sim::SmsStsServo::State model() { return camera->servo()->state(); }

    std::unique_ptr<sim::VirtualCamera> camera;
    std::shared_ptr<eepromDevice> eeprom;
    std::atomic<uint8_t> flags{0};
    std::unique_ptr<ZoomServo> zoom;
};
}  // namespace

TEST(ZoomServoDetection, FindsTheServoOrLeavesTheFlagClear) {
    {
        ZoomRig rig(settingsWith(true));
        EXPECT_TRUE(rig.zoom->zoomServoInit(ZoomServo::kId));
        EXPECT_EQ(rig.flags.load(), 1);
        const auto m = rig.model();
        EXPECT_EQ(m.mode, 3);  // step mode
        EXPECT_EQ(m.torqueLimit, 450);
        EXPECT_EQ(m.torqueEnable, 0);
        EXPECT_EQ(m.position, 2048);  // centred where it stands
        EXPECT_EQ(rig.camera->servo()->peek(21), 100);
        EXPECT_EQ(rig.camera->servo()->peek(22), 1);
        EXPECT_EQ(rig.camera->servo()->peek(23), 100);
        EXPECT_EQ(rig.camera->servo()->peek(55), 0);  // unlocked
    }
    {
        ZoomRig rig(settingsWith(false));
        EXPECT_TRUE(rig.zoom->zoomServoInit(ZoomServo::kId));
        EXPECT_EQ(rig.flags.load(), 0);
        EXPECT_FALSE(rig.zoom->servo.isOpen());
    }
}

TEST(ZoomServoDetection, APortThatCannotBeOpenedIsFatal) {
    ZoomRig rig(settingsWith(true));
    std::filesystem::remove(rig.camera->root().path() + "/dev/ttyS1");
    try {
        rig.zoom->zoomServoInit(ZoomServo::kId);
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Failed to init sms/sts motor");
    }
}

// The torque limit and direction from the EEPROM; bad values give the defaults, written back.
TEST(ZoomServoSettings, LoadedFromTheEepromWithDefaultsWrittenBack) {
    const struct {
        const char* name;
        std::vector<uint8_t> stored;  // bytes 124..126
        int torque, reverse;
        std::vector<uint8_t> after;
    } cases[] = {
        {"erased", {0xFF, 0xFF, 0xFF}, 450, 0, {0xC2, 0x01, 0x00}},
        {"torque 1200", {0xB0, 0x04, 0x01}, 450, 1, {0xC2, 0x01, 0x01}},
        {"torque 1000, direction 2", {0xE8, 0x03, 0x02}, 1000, 0, {0xE8, 0x03, 0x00}},
        {"valid", {0x2C, 0x01, 0x01}, 300, 1, {0x2C, 0x01, 0x01}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ZoomRig rig(settingsWith(true), c.stored);
        ASSERT_TRUE(rig.zoom->zoomServoInit(ZoomServo::kId));
        EXPECT_EQ(rig.zoom->zoom_torque_limit.load(), c.torque);
        EXPECT_EQ(rig.zoom->zoom_reverse.load(), c.reverse);
        EXPECT_EQ(rig.eepromBytes(124, 3), c.after);
        EXPECT_EQ(rig.model().torqueLimit, c.torque);
    }
}

TEST(ZoomServoSettings, AMissingEepromLeavesTheDefaults) {
    ZoomRig rig(settingsWith(true), {0x2C, 0x01, 0x01});
    rig.eeprom->close();
    LogCapture log(2);
    ASSERT_TRUE(rig.zoom->zoomServoInit(ZoomServo::kId));
    EXPECT_EQ(rig.zoom->zoom_torque_limit.load(), 450);
    EXPECT_EQ(rig.zoom->zoom_reverse.load(), 0);
    EXPECT_FALSE(rig.zoom->setZoomTorqueLimit(500));
    const std::string text = log.text();
    EXPECT_NE(text.find("eepromDevice read: "), std::string::npos) << text;
    EXPECT_NE(text.find("Cannot read eeprom!\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Cannot write eeprom\n"), std::string::npos) << text;
}

// zoom_width = 10000 - the position read at the far end, after centring at the near end.
TEST(ZoomServoCalibration, MeasuresTheTravelAndCentresTheRange) {
    const struct {
        int travel;
        int width, min, max;
    } cases[] = {{3976, 3976, 110, 3986}, {4400, 3552, 322, 3774}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.travel);
        ZoomRig rig(settingsWith(true, c.travel));
        ASSERT_TRUE(rig.zoom->zoomServoInit(ZoomServo::kId));
        rig.zoom->startZoomThread();
        ASSERT_TRUE(waitFor([&] { return rig.zoom->zoom_ready.load() == 1; }, 30s));
        EXPECT_EQ(rig.zoom->zoom_width.load(), c.width);
        EXPECT_EQ(rig.zoom->zoom_min.load(), c.min);
        EXPECT_EQ(rig.zoom->zoom_max.load(), c.max);
        const auto m = rig.model();
        EXPECT_EQ(m.mode, 0);  // position mode from here on
        EXPECT_EQ(m.torqueEnable, 1);
        EXPECT_EQ(m.position, 2048);
        // The servo's centre sits width / 2 below the far end.
        EXPECT_NEAR(m.physical, c.travel - c.width / 2, 1.0);
        const auto before = std::chrono::steady_clock::now();
        rig.zoom->close();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
        EXPECT_EQ(rig.model().torqueEnable, 0);
    }
}

TEST(ZoomServoCalibration, CloseEndsItWithinASecond) {
    ZoomRig rig(settingsWith(true));
    ASSERT_TRUE(rig.zoom->zoomServoInit(ZoomServo::kId));
    rig.zoom->startZoomThread();
    ASSERT_TRUE(waitFor([&] { return rig.model().moving == 1; }, 5s));
    std::this_thread::sleep_for(300ms);  // probing the first end, or in one of the long sleeps
    const auto before = std::chrono::steady_clock::now();
    rig.zoom->close();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_EQ(rig.zoom->zoom_ready.load(), 0);
    EXPECT_EQ(rig.model().torqueEnable, 0);
}

// Ends out of the probing move's reach: the search gives up, says so and leaves the zoom unready.
TEST(ZoomServoCalibration, AnEndOutOfReachLeavesTheZoomUnready) {
    LogCapture log(2);
    {
        ZoomRig rig(settingsWith(true, 30000));
        ASSERT_TRUE(rig.zoom->zoomServoInit(ZoomServo::kId));
        rig.zoom->startZoomThread();
        ASSERT_TRUE(waitFor([&] { return rig.model().moving == 1; }, 5s));
        ASSERT_TRUE(waitFor([&] { return rig.model().torqueEnable == 0 && rig.model().moving == 0; }, 30s));
        EXPECT_EQ(rig.zoom->zoom_ready.load(), 0);
    }
    EXPECT_NE(log.text().find("Zoom calibration: no reverse end within"), std::string::npos) << log.text();
}

// One calibrated servo for the drive loop, positioned zoom and faults.
class CalibratedZoom : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Before any thread that logs: the log is not redirected under running threads.
        log = std::make_unique<LogCapture>(5);
        rig = new ZoomRig(settingsWith(true));
        rig->zoom->zoomServoInit(ZoomServo::kId);
        rig->zoom->startZoomThread();
        waitFor([] { return rig->zoom->zoom_ready.load() == 1; }, 30s);
    }
    static void TearDownTestSuite() {
        delete rig;
        rig = nullptr;
        log.reset();
    }
    // What was logged since `from` (a length of the log taken earlier).
    static std::string logSince(size_t from) { return log->text().substr(from); }
    void SetUp() override {
        ASSERT_EQ(rig->zoom->zoom_ready.load(), 1);
        rig->camera->servoLine()->setSilent(false);
        ASSERT_TRUE(waitFor([] { return rig->flags.load() == 1; }, 3s));
        rig->zoom->zoomDrive(0, 1, 0);
    }
    static bool settled() {
        const auto m = rig->model();
        return m.moving == 0 && m.speed == 0;
    }
    static ZoomRig* rig;
    static inline std::unique_ptr<LogCapture> log;
};
ZoomRig* CalibratedZoom::rig = nullptr;

TEST_F(CalibratedZoom, DriveLoopStepsAheadAndStopsShortOfTheLimits) {
    ZoomServo& z = *rig->zoom;
    const int low = z.zoom_min.load(), high = z.zoom_max.load();
    const struct {
        int speed;  // VISCA sense: positive tele
        bool up;    // servo positions rise
    } drives[] = {{-7, true}, {7, false}, {-4, true}};
    for (const auto& d : drives) {
        SCOPED_TRACE(d.speed);
        z.zoomDrive(d.speed, 1, 0);
        int steps = 0;
        const bool ended = waitFor(
            [&] {
                const auto m = rig->model();
                // Each pass aims at most one drive step beyond where the servo stood.
                EXPECT_LE(std::abs(m.target - m.position), ZoomServo::kDriveStep + 40) << m.position;
                ++steps;
                return d.up ? m.target >= high - ZoomServo::kDriveStep : m.target <= low + ZoomServo::kDriveStep;
            },
            10s, 2ms);
        ASSERT_TRUE(ended);
        std::this_thread::sleep_for(300ms);
        const auto m = rig->model();
        if (d.up) {
            EXPECT_LT(m.target, high);
            EXPECT_GE(m.target, high - ZoomServo::kDriveStep);
        } else {
            EXPECT_GT(m.target, low);
            EXPECT_LE(m.target, low + ZoomServo::kDriveStep);
        }
        if (d.speed == -4) break;
    }
    z.zoomDrive(0, 1, 0);
    EXPECT_TRUE(waitFor(settled, 2s));
    // Direction reversed: the same request runs the other way.
    z.zoom_reverse = 1;
    const int from = rig->model().position;
    z.zoomDrive(-7, 1, 0);
    EXPECT_TRUE(waitFor([&] { return rig->model().position < from - 200; }, 3s));
    z.zoomDrive(0, 1, 0);
    z.zoom_reverse = 0;
    EXPECT_TRUE(waitFor(settled, 2s));
}

TEST_F(CalibratedZoom, DriveRequestTables) {
    ZoomServo& z = *rig->zoom;
    const struct {
        int speed, integer;
        float f;
        int dir, servoSpeed, acc;
    } cases[] = {{3, 1, 0, 3, 200, 30},   {-7, 1, 0, -7, 2400, 70}, {9, 1, 0, 0, 30, 5},
                 {0, 0, 0.5f, 3, 200, 30}, {0, 0, -1.0f, -7, 2400, 70}, {0, 0, 2.0f, 0, 30, 5}};
    for (const auto& c : cases) {
        z.zoomDrive(c.speed, c.integer, c.f);
        std::lock_guard lock(z.zoom_mutex);
        EXPECT_EQ(z.m_zoom_dir, c.dir) << c.speed << " " << c.f;
        EXPECT_EQ(z.m_zoom_speed, c.servoSpeed) << c.speed << " " << c.f;
        EXPECT_EQ(z.m_zoom_acc, c.acc) << c.speed << " " << c.f;
    }
    z.zoomDrive(0, 1, 0);
}

TEST_F(CalibratedZoom, PositionedZoomScalesAndClamps) {
    ZoomServo& z = *rig->zoom;
    const int low = z.zoom_min.load(), high = z.zoom_max.load();
    // The scale 0..16384 spread over the calibrated range (single precision: within a step).
    auto scaled = [&](int position) { return low + position * (high - low) / 16384; };
    const struct {
        int position, speed, result, target, servoSpeed, acc;
    } cases[] = {
        {16384, 7, 0, scaled(16384), 2400, 70},
        {0, 2, 0, low, 100, 20},
        {8192, 4, 0, scaled(8192), 400, 40},
        {20000, 4, 0, high, 400, 40},  // clamped
        {-4000, 4, 0, low, 400, 40},   // clamped
        {8192, 8, -1, -1, 0, 0},       // bad speed: nothing sent
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position);
        EXPECT_EQ(z.zoomPosAbs(c.position, c.speed), c.result);
        if (c.result != 0) continue;
        const int target = rig->model().target;
        EXPECT_NEAR(target, c.target, 1);
        EXPECT_GE(target, low);
        EXPECT_LE(target, high);
        EXPECT_EQ(rig->camera->servo()->peek(41), c.acc);
        EXPECT_EQ(rig->camera->servo()->peek(46) | rig->camera->servo()->peek(47) << 8, c.servoSpeed);
        ASSERT_TRUE(waitFor([&] { return rig->model().position == target && settled(); }, 10s));
    }
    const float unit = 16384.0f / static_cast<float>(high - low);
    // Relative: from the middle, a quarter of the scale up and down; beyond the range refused.
    ASSERT_EQ(z.zoomPosAbsNormalized(0.5f), 0);
    ASSERT_TRUE(waitFor(settled, 5s));
    const int middle = rig->model().position;
    const int quarter = static_cast<int>(4096 / unit);
    EXPECT_EQ(z.zoomPosRel(4096, 7), 0);
    const int up = rig->model().target;
    EXPECT_NEAR(up, middle + quarter, 1);
    ASSERT_TRUE(waitFor([&] { return rig->model().position == up && settled(); }, 5s));
    EXPECT_EQ(z.zoomPosRel(-8192, 7), 0);
    EXPECT_NEAR(rig->model().target, up - 2 * quarter, 1);
    ASSERT_TRUE(waitFor(settled, 5s));
    const size_t from = log->text().size();
    EXPECT_EQ(z.zoomPosRel(16384, 7), -1);
    EXPECT_EQ(z.zoomPosRel(100, 9), -1);
    const std::string text = logSince(from);
    EXPECT_NE(text.find("FAILED: Relative Position destination is out of zoom-servo limit area\n"), std::string::npos);
    EXPECT_NE(text.find("FAILED: Relative Position Speed Err 9\n"), std::string::npos);
}

// Eleven unanswered reads clear the servo flag; the first answer sets it again.
TEST_F(CalibratedZoom, ASilentServoClearsTheFlagUntilItAnswers) {
    const size_t from = log->text().size();
    rig->camera->servoLine()->setSilent(true);
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([] { return rig->flags.load() == 0; }, 3s));
    // Eleven reads of 100 ms with 10 ms pauses between them; ten would take 1.1 s at most.
    EXPECT_GT(std::chrono::steady_clock::now() - before, 1150ms);
    EXPECT_EQ(rig->zoom->zoomPosAbs(0, 4), 0);  // without servo zoom: nothing
    // An inquiry's read gives up at the first unanswered one: the socket thread waits on it.
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(rig->zoom->presentPosition(), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 500ms);
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

TEST(ZoomServoRestart, RecalibratesWithAServoAndFailsWithout) {
    {
        ZoomRig rig(settingsWith(true));
        rig.zoom->zoomServoInit(ZoomServo::kId);
        rig.zoom->startZoomThread();
        ASSERT_TRUE(waitFor([&] { return rig.model().moving == 1; }, 5s));
        EXPECT_TRUE(rig.zoom->zoomLimitRestart());
        EXPECT_EQ(rig.zoom->zoom_ready.load(), 0);
        EXPECT_EQ(rig.flags.load(), 1);
        EXPECT_TRUE(rig.zoom->threadRunning());
        ASSERT_TRUE(waitFor([&] { return rig.zoom->zoom_ready.load() == 1; }, 30s));
        EXPECT_EQ(rig.zoom->zoom_min.load(), 110);
    }
    {
        ZoomRig rig(settingsWith(false));
        rig.zoom->zoomServoInit(ZoomServo::kId);
        EXPECT_FALSE(rig.zoom->zoomLimitRestart());
        EXPECT_EQ(rig.flags.load(), 0);
        EXPECT_FALSE(rig.zoom->threadRunning());
    }
}
