// CameraModule: the camera in the head, reached by LANC words through the FPGA (registers 16
// and 18 of block 1024) or, when the MultiPort adapter answered, by its key frames: power,
// zoom without a servo, focus, exposure, iris and the camera keys. Run by the queue thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

class hardware;
class MultiPort;

class CameraModule {
public:
    static constexpr uint32_t kBlock = 1024;
    static constexpr uint32_t kLancRegister = 16;
    static constexpr uint32_t kPowerRegister = 18;
    static constexpr uint32_t kPowerPress = 1u << 0;  // written: press the power switch
    static constexpr uint32_t kPowerOff = 1u << 1;    // read: the camera is off
    static constexpr uint8_t kKeyType = 0x18;
    static constexpr uint8_t kSpecialType = 0x28;
    static constexpr int kPowerPolls = 51;
    static constexpr auto kPollPeriod = std::chrono::milliseconds(100);
    static constexpr auto kPressHold = std::chrono::milliseconds(500);
    // cameraPowerGet answers, the VISCA power inquiry's values.
    static constexpr int kOn = 2;
    static constexpr int kOffAnswer = 3;
    // The first argument the VISCA direct iris command queues: the value is a position.
    static constexpr float kIrisPositionMarker = 322.0f;

    // The mode and flag words are the Stepper's; the adapter is its MultiPort.
    CameraModule(std::shared_ptr<hardware> hw, const std::atomic<int8_t>& multiport_mode,
                 const std::atomic<uint8_t>& servo_flags, MultiPort& adapter);

    void lancCommand(uint8_t type, uint8_t code);
    void lancPulse(uint8_t code);
    int cameraPowerGet();
    // requested: 0 on, 1 off, 2 any other (off when on); the outcome (0 on, 1 off) is written back.
    void cameraPowerSet(std::atomic<int32_t>& requested);
    void lancZoomDrive(int speed, int integer_form, float speed_f);
    void focusMode(int mode);
    void focusSpeed(uint8_t direction);
    void focusSpeedVariable(uint8_t value, int integer_form, float speed_f);
    void exposureMode(int mode);
    void irisSet(uint8_t value, int absolute, float level_f);
    void cameraRecordKey();
    void cameraKeyB4();
    void cameraRecord();
    void whiteBalance(int mode);

    // Ends every wait at once (shutdown); the sequence in progress finishes without its holds.
    void stop();

private:
    bool adapterMode() const { return multiport_mode.load() != 0; }
    // Sleeps unless stopping; false when stop() ended it.
    bool pause(std::chrono::milliseconds duration);
    void release() { lancCommand(0, 0); }
    void hold(uint8_t type, uint8_t code, std::chrono::milliseconds duration);
    void adapterKeys(char first, char firstCode, char secondCode, std::chrono::milliseconds gap);
    void powerOn(uint32_t sense);
    void powerOff();
    uint32_t readPower();

    std::shared_ptr<hardware> hw;
    const std::atomic<int8_t>& multiport_mode;
    const std::atomic<uint8_t>& servo_flags;
    MultiPort& adapter;
    int iris_position = 0;  // only the queue thread sets the iris
    std::atomic<bool> stopping{false};
    std::mutex wait_mutex;
    std::condition_variable wake;
};
