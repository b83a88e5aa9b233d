// A Stepper on the hardware layer against a virtual camera, in-process, with its standard output captured.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "hw/hardware.h"
#include "motion/stepper.h"
#include "sim/app/virtual_camera.h"

class StepperRig {
public:
    // HTTP off, the head's mechanics at the tests' speed, no zoom servo, the MultiPort adapter fitted.
    static sim::SimSettings fastSettings();

    explicit StepperRig(const sim::SimSettings& settings = fastSettings(), uint8_t limitCheck = 1,
                        int32_t limitDegree = 90, float maxSpeedUp = 1.0f);
    ~StepperRig();

    bool begin();
    // Standard output printed so far (captured while the rig lives).
    std::string output();
    sim::Tmc5041Model& model() { return camera->motion(); }

    std::unique_ptr<sim::VirtualCamera> camera;
    std::shared_ptr<hardware> hw;
    std::unique_ptr<Stepper> stepper;

private:
    void copyOutput();

    int savedStdout = -1;
    int readEnd = -1;
    std::mutex textMutex;
    std::string text;
    std::thread copier;
};
