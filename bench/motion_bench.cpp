// Homing of the simulated head at real speed: time against what the ramp parameters predict, and the CPU it costs.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "support/quiet_settings.h"
#include "support/stepper_rig.h"
#include "support/wait_for.h"

namespace {
constexpr double kClock = 13.2e6;
double velocity(double vmax) { return vmax * kClock / (1 << 24); }
double acceleration(double a) { return a * kClock * kClock / std::pow(2.0, 41); }

// A move from rest over a distance at speed v, accelerating at a and, if it ends at rest, braking at d.
double moveTime(double distance, double v, double a, double d) {
    const double ramps = v * v / (2 * a) + (d > 0 ? v * v / (2 * d) : 0);
    if (distance >= ramps) return distance / v + v / (2 * a) + (d > 0 ? v / (2 * d) : 0);
    const double peak = std::sqrt(2 * distance / (1 / a + (d > 0 ? 1 / d : 0)));
    return peak / a + (d > 0 ? peak / d : 0);
}

// What the homing sequence should take on the default head, from the ramp values it uses.
double predictedHoming(const sim::HeadGeometry& g) {
    const double pan = velocity(143000), tilt = velocity(59000);
    const double amax = acceleration(3000), dmax = acceleration(16384);
    const double panOver = pan * pan / (2 * dmax), tiltOver = tilt * tilt / (2 * dmax);
    // Pan: left switch, soft stop, right switch, soft stop, centre.
    const double centre = (g.panLeft + g.panRight - 53126) / 2.0;
    const double panTime = moveTime(-g.panLeft, pan, amax, 0) + pan / dmax +
                           moveTime(g.panRight - g.panLeft + panOver, pan, amax, 0) + pan / dmax +
                           moveTime(g.panRight + panOver - centre, pan, amax, dmax);
    // Tilt: its switch, soft stop, the 0.1 s + 3 s wait, then 179193 down to its home.
    const double tiltTime = moveTime(g.tiltUp, tilt, amax, 0) + tilt / dmax + 3.1 + moveTime(179193, tilt, amax, dmax);
    (void)tiltOver;
    return std::max(panTime, tiltTime);
}

double processCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double threadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

void Homing(benchmark::State& state) {
    for (auto _ : state) {
        sim::SimSettings settings = quietSettings();
        settings.motionSpeed = 1.0;
        StepperRig rig(settings);
        if (!rig.begin()) {
            state.SkipWithError("begin failed");
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        const double cpu0 = processCpu(), own0 = threadCpu();
        const double model0 = std::chrono::duration<double>(rig.model().mechanicsCpuTime()).count();
        if (!waitFor([&] { return rig.stepper->limit_state == 1; }, std::chrono::minutes(5), std::chrono::milliseconds(1))) {
            state.SkipWithError("never homed");
            return;
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double model = std::chrono::duration<double>(rig.model().mechanicsCpuTime()).count() - model0;
        const double app = processCpu() - cpu0 - (threadCpu() - own0) - model;
        state.SetIterationTime(wall);
        const double predicted = predictedHoming(settings.head);
        state.counters["predicted_s"] = predicted;
        state.counters["measured_s"] = wall;
        state.counters["ratio"] = wall / predicted;
        state.counters["app_cpu_s"] = app;
        state.counters["app_cpu_pct"] = 100 * app / wall;
        state.counters["model_cpu_pct"] = 100 * model / wall;
        rig.stepper->close();
    }
}
BENCHMARK(Homing)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
}  // namespace
