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
#include "support/wait_for.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

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
    Bytes eepromBytes(long offset, size_t n) {
        std::ifstream file(camera->root().eepromFile(), std::ios::binary);
        file.seekg(offset);
        Bytes bytes(n);
        file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(n));
        return bytes;
    }
    sim::SmsStsServo::State model() { return camera->servo()->state(); }
    bool startMoving() {
        zoom->zoomServoInit(ZoomServo::kId);
        zoom->startZoomThread();
        return waitFor([&] { return model().moving == 1; }, 5s);
    }
    bool ready() { return waitFor([&] { return zoom->zoom_ready.load() == 1; }, 30s); }
    // Close ends calibration or the drive loop within a second and releases the torque.
    void expectPromptClose() {
        EXPECT_LT(elapsed([&] { zoom->close(); }), 1s);
        EXPECT_EQ(model().torqueEnable, 0);
    }

    std::unique_ptr<sim::VirtualCamera> camera;
    std::shared_ptr<eepromDevice> eeprom = std::make_shared<eepromDevice>();
    std::atomic<uint8_t> flags{0};
    std::unique_ptr<ZoomServo> zoom;
};
}  // namespace

TEST(ZoomServoDetection, FindsTheServoOrLeavesTheFlagClearAndAnUnopenablePortIsFatal) {
    {
        ZoomRig rig(settingsWith(true));
        EXPECT_TRUE(rig.zoom->zoomServoInit(ZoomServo::kId));
        EXPECT_EQ(rig.flags.load(), 1);
        const auto m = rig.model();
        EXPECT_EQ(m.mode, 3);  // step mode
        EXPECT_EQ(m.torqueLimit, 450);
        EXPECT_EQ(m.torqueEnable, 0);
        EXPECT_EQ(m.position, 2048);  // centred where it stands
        auto& servo = *rig.camera->servo();
        EXPECT_EQ((Bytes{servo.peek(21), servo.peek(22), servo.peek(23), servo.peek(55)}), (Bytes{100, 1, 100, 0}));
    }
    {
        ZoomRig rig(settingsWith(false));
        EXPECT_TRUE(rig.zoom->zoomServoInit(ZoomServo::kId));
        EXPECT_EQ(rig.flags.load(), 0);
        EXPECT_FALSE(rig.zoom->servo.isOpen());
    }
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
        Bytes stored;  // bytes 124..126
        int torque, reverse;
        Bytes after;
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
    // A missing EEPROM leaves the defaults.
    ZoomRig rig(settingsWith(true), {0x2C, 0x01, 0x01});
    rig.eeprom->close();
    LogCapture log(2);
    ASSERT_TRUE(rig.zoom->zoomServoInit(ZoomServo::kId));
    EXPECT_EQ(rig.zoom->zoom_torque_limit.load(), 450);
    EXPECT_EQ(rig.zoom->zoom_reverse.load(), 0);
    EXPECT_FALSE(rig.zoom->setZoomTorqueLimit(500));
    const std::string text = log.text();
    for (const char* line : {"eepromDevice read: ", "Cannot read eeprom!\n", "Cannot write eeprom\n"})
        EXPECT_NE(text.find(line), std::string::npos) << text;
}

// zoom_width = 10000 - the position read at the far end, after centring at the near end.
TEST(ZoomServoCalibration, MeasuresTheTravelAndCentresTheRange) {
    const struct { int travel, width, min, max; } cases[] = {{3976, 3976, 110, 3986}, {4400, 3552, 322, 3774}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.travel);
        ZoomRig rig(settingsWith(true, c.travel));
        ASSERT_TRUE(rig.startMoving());
        ASSERT_TRUE(rig.ready());
        EXPECT_EQ(rig.zoom->zoom_width.load(), c.width);
        EXPECT_EQ(rig.zoom->zoom_min.load(), c.min);
        EXPECT_EQ(rig.zoom->zoom_max.load(), c.max);
        const auto m = rig.model();
        EXPECT_EQ(m.mode, 0);  // position mode from here on
        EXPECT_EQ(m.torqueEnable, 1);
        EXPECT_EQ(m.position, 2048);
        EXPECT_NEAR(m.physical, c.travel - c.width / 2, 1.0);  // the centre sits width / 2 below the far end
        rig.expectPromptClose();
    }
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

// A restart mid-calibration calibrates again; close mid-calibration ends it within a second.
TEST(ZoomServoRestart, RecalibratesWithAServoAndFailsWithoutAndCloseIsPrompt) {
    {
        ZoomRig rig(settingsWith(true));
        ASSERT_TRUE(rig.startMoving());
        EXPECT_TRUE(rig.zoom->zoomLimitRestart());
        EXPECT_EQ(rig.zoom->zoom_ready.load(), 0);
        EXPECT_EQ(rig.flags.load(), 1);
        EXPECT_TRUE(rig.zoom->threadRunning());
        ASSERT_TRUE(rig.ready());
        EXPECT_EQ(rig.zoom->zoom_min.load(), 110);
        EXPECT_TRUE(rig.zoom->zoomLimitRestart());
        ASSERT_TRUE(waitFor([&] { return rig.model().moving == 1; }, 5s));
        std::this_thread::sleep_for(300ms);  // probing the first end, or in one of the long sleeps
        rig.expectPromptClose();
        EXPECT_EQ(rig.zoom->zoom_ready.load(), 0);
    }
    ZoomRig rig(settingsWith(false));
    rig.zoom->zoomServoInit(ZoomServo::kId);
    EXPECT_FALSE(rig.zoom->zoomLimitRestart());
    EXPECT_EQ(rig.flags.load(), 0);
    EXPECT_FALSE(rig.zoom->threadRunning());
}

// One calibrated servo for the drive loop, positioned zoom and faults.
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
        ASSERT_EQ(rig->zoom->zoom_ready.load(), 1);
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
    const int low = z.zoom_min.load(), high = z.zoom_max.load();
    // VISCA sense: positive is tele, which runs the servo positions down.
    for (const int speed : {-7, 7, -4}) {
        SCOPED_TRACE(speed);
        const bool up = speed < 0;
        z.zoomDrive(speed, 1, 0);
        ASSERT_TRUE(waitFor(
            [&] {
                const auto m = rig->model();
                // Each pass aims at most one drive step beyond where the servo stood.
                EXPECT_LE(std::abs(m.target - m.position), ZoomServo::kDriveStep + 40) << m.position;
                return up ? m.target >= high - ZoomServo::kDriveStep : m.target <= low + ZoomServo::kDriveStep;
            },
            10s, 2ms));
        std::this_thread::sleep_for(300ms);
        const int target = rig->model().target;
        if (up) {
            EXPECT_LT(target, high);
            EXPECT_GE(target, high - ZoomServo::kDriveStep);
        } else {
            EXPECT_GT(target, low);
            EXPECT_LE(target, low + ZoomServo::kDriveStep);
        }
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
    const struct { int speed, integer; float f; int dir, servoSpeed, acc; } cases[] = {
        {3, 1, 0, 3, 200, 30},    {-7, 1, 0, -7, 2400, 70},     {9, 1, 0, 0, 30, 5},
        {0, 0, 0.5f, 3, 200, 30}, {0, 0, -1.0f, -7, 2400, 70}, {0, 0, 2.0f, 0, 30, 5}};
    for (const auto& c : cases) {
        z.zoomDrive(c.speed, c.integer, c.f);
        std::lock_guard lock(z.zoom_mutex);
        EXPECT_EQ((std::tuple{z.m_zoom_dir, z.m_zoom_speed, z.m_zoom_acc}), (std::tuple{c.dir, c.servoSpeed, c.acc}))
            << c.speed << " " << c.f;
    }
    z.zoomDrive(0, 1, 0);
}

TEST_F(CalibratedZoom, PositionedZoomScalesAndClamps) {
    ZoomServo& z = *rig->zoom;
    const int low = z.zoom_min.load(), high = z.zoom_max.load();
    // The scale 0..16384 spread over the calibrated range (single precision: within a step).
    auto scaled = [&](int position) { return low + position * (high - low) / 16384; };
    const struct { int position, speed, result, target, servoSpeed, acc; } cases[] = {
        {16384, 7, 0, scaled(16384), 2400, 70}, {0, 2, 0, low, 100, 20}, {8192, 4, 0, scaled(8192), 400, 40},
        {20000, 4, 0, high, 400, 40},  // clamped
        {-4000, 4, 0, low, 400, 40},   // clamped
        {8192, 8, -1, -1, 0, 0},       // bad speed: nothing sent
    };
    auto& servo = *rig->camera->servo();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position);
        EXPECT_EQ(z.zoomPosAbs(c.position, c.speed), c.result);
        if (c.result != 0) continue;
        const int target = rig->model().target;
        EXPECT_NEAR(target, c.target, 1);
        EXPECT_GE(target, low);
        EXPECT_LE(target, high);
        EXPECT_EQ(servo.peek(41), c.acc);
        EXPECT_EQ(servo.peek(46) | servo.peek(47) << 8, c.servoSpeed);
        ASSERT_TRUE(waitFor([&] { return rig->model().position == target && settled(); }, 10s));
    }
    // Relative: from the middle, a quarter of the scale up and down; beyond the range refused.
    const int quarter = static_cast<int>(4096 / (16384.0f / static_cast<float>(high - low)));
    ASSERT_EQ(z.zoomPosAbsNormalized(0.5f), 0);
    ASSERT_TRUE(waitFor(settled, 5s));
    const int middle = rig->model().position;
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
