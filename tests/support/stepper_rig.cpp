#include "support/stepper_rig.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "support/quiet_settings.h"

sim::SimSettings StepperRig::fastSettings() {
    sim::SimSettings s = quietSettings();
    s.motionSpeed = kTestHeadSpeed;
    s.servo.present = false;  // the pan/tilt head alone: the zoom servo has its own tests
    s.multiport = true;       // the adapter answers the probe at once; without it begin waits a second
    return s;
}

StepperRig::StepperRig(const sim::SimSettings& settings, uint8_t limitCheck, int32_t limitDegree, float maxSpeedUp) {
    // Standard output goes through a pipe and is copied on, so the test's own report still shows.
    std::fflush(stdout);
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) std::abort();
    savedStdout = dup(STDOUT_FILENO);
    dup2(ends[1], STDOUT_FILENO);
    ::close(ends[1]);
    readEnd = ends[0];
    copier = std::thread([this] { copyOutput(); });
    camera = std::make_unique<sim::VirtualCamera>(settings);
    hw = std::make_shared<hardware>(camera->platform());
    stepper = std::make_unique<Stepper>(hw, limitCheck, nullptr, limitDegree, maxSpeedUp, camera->platform());
}

StepperRig::~StepperRig() {
    stepper.reset();
    hw.reset();
    camera.reset();
    std::fflush(stdout);
    dup2(savedStdout, STDOUT_FILENO);  // closes the pipe's last write end: the copier ends
    copier.join();
    ::close(readEnd);
    ::close(savedStdout);
}

void StepperRig::copyOutput() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(readEnd, buffer, sizeof buffer);
        if (n <= 0) return;
        if (write(savedStdout, buffer, static_cast<size_t>(n)) < 0) {
        }
        std::lock_guard lock(textMutex);
        text.append(buffer, static_cast<size_t>(n));
    }
}

bool StepperRig::begin() { return stepper->begin("/dev/spidev32766.0"); }

std::string StepperRig::output() {
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the copier catch up
    std::lock_guard lock(textMutex);
    return text;
}
