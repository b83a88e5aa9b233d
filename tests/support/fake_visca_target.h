// A stand-in for the PTZ service behind the VISCA decoder: records what it is asked, answers set values.
#pragma once

#include <array>
#include <mutex>
#include <vector>

#include "control/visca_target.h"

class FakeViscaTarget : public ViscaTarget {
public:
    void pushCommand(const PtzCommand& command) override {
        std::lock_guard lock(mutex);
        pushed.push_back(command);
    }
    int limitState() override { return limit_state; }
    HeadLimits headLimits() override { return limits; }
    int32_t actualPosition(int motor) override { return motor == kPanMotor ? pan_actual : tilt_actual; }
    void setPositionTargets(int32_t pan, int32_t tilt) override {
        pan_target = pan;
        tilt_target = tilt;
        ++targets_written;
    }
    uint8_t presetSpeed(int index) override { return preset_speeds.at(static_cast<size_t>(index)); }
    void setPresetSpeed(int index, uint8_t speed) override { preset_speeds.at(static_cast<size_t>(index)) = speed; }
    int zoomLimitRestart() override { return ++restarts, zoom_restart_result; }
    int detectMultiPort() override { return ++detections, multiport_result; }

    std::vector<PtzCommand> commands() {
        std::lock_guard lock(mutex);
        return pushed;
    }

    int limit_state = 1;
    HeadLimits limits{};
    int32_t pan_actual = 0, tilt_actual = 0;
    int32_t pan_target = 0, tilt_target = 0;
    int targets_written = 0;
    std::array<uint8_t, 10> preset_speeds{};
    int zoom_restart_result = 0, multiport_result = 0;
    int restarts = 0, detections = 0;

private:
    std::mutex mutex;
    std::vector<PtzCommand> pushed;
};
