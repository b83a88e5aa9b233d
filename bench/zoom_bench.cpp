// The zoom servo and presets on the virtual camera: one drive-loop pass against its bytes'
// time on the wire, pan/tilt arrival skew of a preset recall against what the ramp
// parameters predict, and the application's CPU while zooming continuously.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "hw/hardware.h"
#include "motion/eeprom_device.h"
#include "motion/ptz_presets.h"
#include "motion/stepper.h"
#include "motion/zoom_servo.h"
#include "sim/app/virtual_camera.h"
#include "sim/motion/servo_line.h"
#include "support/quiet_settings.h"
#include "support/wait_for.h"
#include "thread_cpu.h"

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {
sim::SimSettings quiet(double speed) {
    sim::SimSettings s = quietSettings("none");
    s.motionSpeed = speed;
    return s;
}

// Seconds of CPU a named thread of this process has used.
double threadCpu(const std::string& name) { return static_cast<double>(threadCpuNs(name)) / 1e9; }

// One pass of the drive loop (position read, one step written) on the real pseudo-terminal.
void DriveLoopPass(benchmark::State& state) {
    sim::VirtualCamera camera(quiet(1));
    SMS_STS servo;
    if (!servo.open(ZoomServo::kBaud, ZoomServo::kPort)) {
        state.SkipWithError("no /dev/ttyS1");
        return;
    }
    int direction = 1;
    const auto start = clock_type::now();
    for (auto _ : state) {
        const int position = servo.readPosition(ZoomServo::kId);
        if (position > 2600) direction = -1;
        if (position < 1500) direction = 1;
        servo.WritePosEx(ZoomServo::kId, static_cast<int16_t>(position + direction * ZoomServo::kDriveStep), 2400, 70);
    }
    const double pass = std::chrono::duration<double>(clock_type::now() - start).count() /
                        static_cast<double>(state.iterations());
    // 8 + 8 bytes for the read, 14 + 6 for the write.
    const double wire = std::chrono::duration<double>(sim::ServoLine::wireTime(36, 115200)).count();
    state.counters["pass_ms"] = pass * 1e3;
    state.counters["wire_ms"] = wire * 1e3;
    state.counters["ratio"] = pass / wire;
}
BENCHMARK(DriveLoopPass)->Iterations(300)->UseRealTime()->Unit(benchmark::kMillisecond);

constexpr double kClock = 13.2e6;
double velocity(double v) { return v * kClock / (1 << 24); }
double acceleration(double a) { return a * kClock * kClock / std::pow(2.0, 41); }

struct Ramp {
    double a1, v1, amax, dmax, d1, vstart, vstop;
};

// Arrival time of a positioning move from rest, by the six-point ramp of the data sheet.
double arrival(double distance, double vmax, const Ramp& r) {
    const double h = 2e-6;
    double x = 0, v = r.vstart, t = 0;
    while (x < distance) {
        const double braking = v > r.v1 && r.v1 > 0 ? (v * v - r.v1 * r.v1) / (2 * r.dmax) + (r.v1 * r.v1 - r.vstop * r.vstop) / (2 * r.d1)
                                                    : (v * v - r.vstop * r.vstop) / (2 * (r.v1 > 0 ? r.d1 : r.dmax));
        if (distance - x <= braking) {
            v -= (v > r.v1 && r.v1 > 0 ? r.dmax : (r.v1 > 0 ? r.d1 : r.dmax)) * h;
            if (v <= r.vstop) return t + (distance - x) / std::max(r.vstop, 1.0);
        } else if (v < vmax) {
            v = std::min(vmax, v + (v < r.v1 ? r.a1 : r.amax) * h);
        }
        x += v * h;
        t += h;
    }
    return t;
}

Ramp rampOf(sim::Tmc5041Model& chip, int motor) {
    using namespace tmc5041;
    return {acceleration(chip.peek(reg(motor, A1))),   velocity(chip.peek(reg(motor, V1))),
            acceleration(chip.peek(reg(motor, AMAX))), acceleration(chip.peek(reg(motor, DMAX))),
            acceleration(chip.peek(reg(motor, D1))),   velocity(chip.peek(reg(motor, VSTART))),
            velocity(std::max<uint32_t>(chip.peek(reg(motor, VSTOP)), 1))};
}

// A preset recall: both axes get speeds in the ratio of their travels and the same
// acceleration, so the shorter travel arrives early by what its shorter ramps save.
void PresetRecallSkew(benchmark::State& state) {
    using namespace tmc5041;
    const double speed = 10;
    sim::SimSettings settings = quiet(speed);
    settings.servo.present = false;
    sim::VirtualCamera camera(settings);
    auto hw = std::make_shared<hardware>(camera.platform());
    auto eeprom = std::make_shared<eepromDevice>();
    PtzPresets presets(eeprom);
    presets.presetLoad();
    auto stepper = std::make_shared<Stepper>(hw, 1, eeprom, 90, 1.0f, camera.platform());
    presets.attach(stepper);
    if (!stepper->begin("/dev/spidev32766.0") ||
        !waitFor([&] { return stepper->limit_state == 1; }, 60s, 1ms)) {
        state.SkipWithError("the head did not home");
        return;
    }
    auto& chip = camera.motion();
    auto standing = [&](int motor, int32_t at) {
        return static_cast<int32_t>(chip.peek(reg(motor, XACTUAL))) == at && chip.peek(reg(motor, VACTUAL)) == 0;
    };
    const int32_t tiltFrom = stepper->tilt_center, panFrom = stepper->pan_center;
    const int32_t tiltTo = tiltFrom - static_cast<int32_t>(state.range(0)), panTo = panFrom + static_cast<int32_t>(state.range(1));
    stepper->moveAbsolute(Stepper::kTilt, tiltTo, 250000);
    stepper->moveAbsolute(Stepper::kPan, panTo, 250000);
    waitFor([&] { return standing(0, tiltTo) && standing(1, panTo); }, 20s, 1ms);
    presets.PreSave(0, 0);
    double measured = 0, predicted = 0;
    for (auto _ : state) {
        state.PauseTiming();
        stepper->moveAbsolute(Stepper::kTilt, tiltFrom, 250000);
        stepper->moveAbsolute(Stepper::kPan, panFrom, 250000);
        waitFor([&] { return standing(0, tiltFrom) && standing(1, panFrom); }, 20s, 1ms);
        state.ResumeTiming();
        const auto start = clock_type::now();
        presets.PreReCall(0, 1, 24);
        double tiltAt = 0, panAt = 0;
        while ((tiltAt == 0 || panAt == 0) && clock_type::now() - start < 20s) {
            const double now = std::chrono::duration<double>(clock_type::now() - start).count();
            if (tiltAt == 0 && standing(0, tiltTo)) tiltAt = now;
            if (panAt == 0 && standing(1, panTo)) panAt = now;
            std::this_thread::sleep_for(100us);
        }
        measured = std::abs(tiltAt - panAt) / std::max(tiltAt, panAt);
        const double dt = std::abs(tiltTo - tiltFrom), dp = std::abs(panTo - panFrom);
        const double tiltV = velocity(chip.peek(reg(0, VMAX))), panV = velocity(chip.peek(reg(1, VMAX)));
        const double tiltT = arrival(dt, tiltV, rampOf(chip, 0)), panT = arrival(dp, panV, rampOf(chip, 1));
        predicted = std::abs(tiltT - panT) / std::max(tiltT, panT);
        state.counters["move_s"] = std::max(tiltAt, panAt);
        state.counters["predicted_move_s"] = std::max(tiltT, panT) / speed;
    }
    state.counters["skew"] = measured;
    state.counters["predicted_skew"] = predicted;
    state.counters["skew_vs_prediction"] = predicted > 0 ? measured / predicted : 0;
    stepper.reset();
}
BENCHMARK(PresetRecallSkew)->Args({100000, 25000})->Args({50000, 200000})->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

// Continuous zoom back and forth across the range: CPU of the zoom thread and of the servo model.
void ZoomingCpu(benchmark::State& state) {
    sim::VirtualCamera camera(quiet(20));
    auto eeprom = std::make_shared<eepromDevice>();
    eeprom->open(eepromDevice::kPath);
    std::atomic<uint8_t> flags{0};
    ZoomServo zoom(flags, eeprom);
    zoom.zoomServoInit(ZoomServo::kId);
    zoom.startZoomThread();
    if (!waitFor([&] { return zoom.zoom_ready.load() == 1; }, 60s, 1ms)) {
        state.SkipWithError("no calibration");
        return;
    }
    for (auto _ : state) {
        const double appBefore = threadCpu("zoomPTZ"), modelBefore = threadCpu("sim:servo");
        const auto start = clock_type::now();
        int speed = 7;
        while (clock_type::now() - start < 4s) {
            zoom.zoomDrive(speed, 1, 0);
            std::this_thread::sleep_for(1s);
            speed = -speed;
        }
        zoom.zoomDrive(0, 1, 0);
        const double wall = std::chrono::duration<double>(clock_type::now() - start).count();
        state.counters["zoom_thread_cpu_pct"] = 100 * (threadCpu("zoomPTZ") - appBefore) / wall;
        state.counters["servo_model_cpu_pct"] = 100 * (threadCpu("sim:servo") - modelBefore) / wall;
        state.counters["servo_packets"] = static_cast<double>(camera.servoLine()->packets());
    }
    zoom.close();
}
BENCHMARK(ZoomingCpu)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
}  // namespace
