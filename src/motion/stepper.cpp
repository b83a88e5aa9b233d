#include "motion/stepper.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "base/log.h"
#include "platform/signal_watcher.h"
#include "hw/hardware.h"

using namespace tmc5041;

namespace {
constexpr std::array<uint32_t, 25> kSpeeds = {0,     1500,  2500,  3500,  4500,  5500,   7000,   8500,   10500,
                                               13000, 16000, 20000, 25000, 31000, 38000,  47000,  59000,  75000,
                                               96000, 119000, 143000, 168000, 194000, 221000, 250000};
constexpr int kFirstBoosted = 18;

int32_t searchTravel(int32_t limit_degree) {
    switch (limit_degree) {
        case 90: return 800000;
        case 350: return 3100000;
        case 0: return 1550000;
        default: return 1350000;
    }
}
}  // namespace

Stepper::Stepper(std::shared_ptr<hardware> hw_, uint8_t limit_check_, std::shared_ptr<eepromDevice> eeprom_,
                 int32_t limit_degree_, float max_speed_up_, std::shared_ptr<platform::Platform> platform)
    : TMC5041(std::move(platform)),
      limit_check(limit_check_),
      eeprom(std::move(eeprom_)),
      hw(std::move(hw_)),
      limit_degree(limit_degree_),
      max_speed_up(max_speed_up_) {
    pan_search_pos = searchTravel(limit_degree);
    pan_search_neg = -pan_search_pos;
    zoomServo = std::make_unique<ZoomServo>(servo_flags, eeprom);
    multiport = std::make_unique<MultiPort>();
    // A termination signal stops pan first, then tilt.
    signal_token = SignalWatcher::setStopAction([this] {
        stop(kPan);
        stop(kTilt);
    });
}

Stepper::~Stepper() { close(); }

uint32_t Stepper::panHomingSpeed() const { return static_cast<uint32_t>(kPanHomingSpeed * max_speed_up.load()); }

uint32_t Stepper::speedFromIndex(int, int index) const {
    // Callers clamp; an index outside the table is clamped here too rather than read past it.
    const size_t i = static_cast<size_t>(std::clamp(index, 0, static_cast<int>(kSpeeds.size()) - 1));
    if (i < kFirstBoosted) return kSpeeds[i];
    return static_cast<uint32_t>(static_cast<float>(kSpeeds[i]) * max_speed_up.load());
}

bool Stepper::begin(const char* spi_path) {
    if (!open(spi_path)) {
        SPI::close();  // a failed set-up leaves the device open
        return false;
    }
    if (!handshake(kPan) || !handshake(kTilt) || !limitExit()) {
        SPI::close();
        return false;
    }
    writeRegister(reg(kTilt, XACTUAL), 1);
    writeRegister(reg(kPan, XACTUAL), 1);
    homing_thread = std::thread([this] { limitStart(); });
    zoomServo->zoomServoInit(ZoomServo::kId);  // a port that cannot be opened ends the program
    if ((servo_flags.load() & 1) != 0) {
        zoomServo->startZoomThread();
        return true;
    }
    multiport_mode = multiport->probe() ? 1 : 0;  // a port that cannot be set up ends the program
    if (multiport_mode.load() == 0) {
        multiport->close();
        std::fputs("\nLANC mode enable ok. (/dev/ttyS1 close)\n", stdout);
        std::fflush(stdout);
    }
    return true;
}

bool Stepper::handshake(int motor) {
    const uint8_t r = reg(motor, XACTUAL);
    const uint8_t w = static_cast<uint8_t>(r | kWriteBit);
    uint8_t tx[25] = {w, 0x01, 0x02, 0x03, 0x04, r, 0x11, 0x12, 0x13, 0x14, w, 0x21, 0x22,
                      0x23, 0x24, r, 0x31, 0x32, 0x33, 0x34, r, 0x41, 0x42, 0x43, 0x44};
    uint8_t rx[25] = {};
    if (!transfer(tx, rx, sizeof tx)) {
        logAt(3, "M%d: Handshake failed: send/receive\n", motor);
        return false;
    }
    if (verbosity >= 3 && logEnabled(5))
        for (int i = 0; i < 5; ++i) {
            const uint8_t* s = tx + 5 * i;
            const uint8_t* g = rx + 5 * i;
            logAt(5, "%d: sent %02x %02x %02x %02x %02x   recv %02x %02x %02x %02x %02x\n", i, s[0], s[1], s[2], s[3],
                  s[4], g[0], g[1], g[2], g[3], g[4]);
        }
    struct Check {
        const uint8_t* got;
        const uint8_t* expected;
        const char* after;
    };
    const uint8_t first[4] = {0x01, 0x02, 0x03, 0x04};
    const uint8_t second[4] = {0x21, 0x22, 0x23, 0x24};
    const Check checks[] = {{rx + 6, first, "first set"},
                            {rx + 11, first, "first get"},
                            {rx + 16, second, "second set"},
                            {rx + 21, rx + 16, "second get"}};
    for (const auto& c : checks)
        if (!std::equal(c.got, c.got + 4, c.expected)) {
            logAt(3, "M%d: Handshake failed: got %02x %02x %02x %02x after %s\n", motor, c.got[0], c.got[1], c.got[2],
                  c.got[3], c.after);
            return false;
        }
    logAt(4, "M%d: Handshake successful\n", motor);
    return true;
}

void Stepper::requestStop() {
    {
        std::lock_guard lock(pause_mutex);
        stop_flag = true;
    }
    pause_wake.notify_all();
    if (zoomServo) zoomServo->requestStop();
    if (multiport) multiport->stopWaiting();
}

void Stepper::close() {
    requestStop();
    // The homing thread may start the control thread: join it first.
    if (homing_thread.joinable()) homing_thread.join();
    if (control_thread.joinable()) control_thread.join();
    if (zoomServo) zoomServo->close();
    if (multiport) multiport->close();
    SignalWatcher::clearStopAction(signal_token);
    SPI::close();
    logAt(5, "stepper close\n");
}

bool Stepper::detectMultiPort() {
    multiport_mode = 0;
    try {
        multiport_mode = multiport->probe() ? 1 : 0;
    } catch (const std::exception& error) {
        // At start-up this ends the program; on a running camera only the adapter is lost.
        std::puts(error.what());
    }
    if (multiport_mode.load() == 0) multiport->close();
    return multiport_mode.load() != 0;
}

bool Stepper::zoomLimitRestart() {
    multiport_mode = static_cast<int8_t>(multiport_mode.load() & ~1);
    return zoomServo->zoomLimitRestart();
}

int Stepper::rotate(int motor, int32_t speed) {
    if (!validMotor(motor)) return kBadMotor;
    writeRegister(reg(motor, VMAX), static_cast<uint32_t>(std::llabs(static_cast<long long>(speed))));
    writeRegister(reg(motor, RAMPMODE), speed < 0 ? rampmode::kVelocityNegative : rampmode::kVelocityPositive);
    return 0;
}

int Stepper::stop(int motor) {
    if (!validMotor(motor)) return kBadMotor;
    uint32_t raw = 0;
    readRegister(reg(motor, VACTUAL), raw);
    const int32_t velocity = signedVactual(raw);
    const uint32_t amax = std::max<uint32_t>(static_cast<uint32_t>(std::abs(velocity)) / 20, 100);
    writeRegister(reg(motor, V1), 0);
    writeRegister(reg(motor, AMAX), amax);
    writeRegister(reg(motor, VMAX), 0);
    writeRegister(reg(motor, RAMPMODE), rampmode::kVelocityPositive);
    return 0;
}

int Stepper::moveAbsolute(int motor, int32_t position, uint32_t vmax) {
    if (!validMotor(motor)) return kBadMotor;
    if (limit_check == 1 && limit_state == -2 && saved_limit_state == -2) {
        writeRegister(reg(kTilt, IHOLD_IRUN), kTiltCurrentMax);
        logAt(5, "START : TILT_IHOLD_IRUN %X(MAX)\n", kTiltCurrentMax);
    } else if (motor == kTilt) {
        writeRegister(reg(kTilt, IHOLD_IRUN), kTiltCurrentMoving);
        logAt(5, "START : TILT_IHOLD_IRUN %X\n", kTiltCurrentMoving);
    }
    uint32_t v1 = 0;
    readRegister(reg(motor, V1), v1);
    if (v1 != kMoveV1) {  // undo a preceding stop
        writeRegister(reg(motor, V1), kMoveV1);
        writeRegister(reg(motor, AMAX), kMoveAmax);
    }
    writeRegister(reg(motor, RAMPMODE), rampmode::kPositioning);
    writeRegister(reg(motor, VMAX), vmax);
    uint32_t target = 0;
    if (!readRegister(reg(motor, XTARGET), target) || target != static_cast<uint32_t>(position))
        writeRegister(reg(motor, XTARGET), static_cast<uint32_t>(position));
    return 0;
}

int Stepper::moveRelative(int motor, int32_t delta, uint32_t vmax) {
    if (!validMotor(motor)) return kBadMotor;
    const int32_t from = readPosition(motor);
    return moveAbsolute(motor, static_cast<int32_t>(static_cast<uint32_t>(from) + static_cast<uint32_t>(delta)), vmax);
}

void Stepper::setSwitchMode(int motor, uint32_t value) {
    if (validMotor(motor)) writeRegister(reg(motor, SW_MODE), value);
}

int32_t Stepper::readPosition(int motor) {
    uint32_t value = 0;
    readRegister(reg(motor, XACTUAL), value);
    return static_cast<int32_t>(value);
}

uint32_t Stepper::readRampStatus(int motor) {
    uint32_t value = 0;
    readRegister(reg(motor, RAMP_STAT), value);
    return value;
}

bool Stepper::pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(pause_mutex);
    return !pause_wake.wait_for(lock, duration, [this] { return stop_flag.load(); });
}

int Stepper::waitMotionSlice() {
    hw->enable_irq(kMotionIrq);
    return hw->wait_irq(kMotionIrq, std::chrono::milliseconds(100));
}

bool Stepper::waitMotionEvent() {
    while (!stop_flag)
        if (waitMotionSlice() >= 0) return !stop_flag;
    return false;
}

void Stepper::startControlThread() {
    control_thread = std::thread([this] { ctrlPTZ(); });
}
