// The HDMI receiver monitor: input EDID, receiver set-up over I2C, and a watch over signal, colour and audio.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/platform.h"
#include "status/hdmi_edid.h"

class hardware;

class hdmi {
public:
    static constexpr const char* bus_path = "/dev/i2c-1";
    static constexpr uint32_t edid_block = 1152;
    static constexpr uint32_t control_block = 1024;

    explicit hdmi(std::shared_ptr<hardware> hw, std::shared_ptr<platform::Platform> platform = platform::installed());
    ~hdmi();
    hdmi(const hdmi&) = delete;
    hdmi& operator=(const hdmi&) = delete;

    int i2cWrite(uint8_t reg, uint8_t value);
    int i2cRead(uint8_t reg, uint8_t& value);
    int detectFormat();

    // Monitor state 0 no signal, 1 waiting for stability, 2 settling, 3 running.
    uint32_t get_state() const { return state.load(); }
    uint32_t get_format() const { return format.load(); }

private:
    void monitor();
    void load_edid();
    void init_receiver();
    void setup_audio(uint8_t value);
    void poll();
    void no_signal(uint8_t status);
    void waiting_for_stability(uint8_t status);
    void settling(uint8_t status);
    void running(uint8_t status);
    void follow_format();
    void watch_audio();
    void configure_colour();
    uint8_t read(uint8_t reg);
    void set_bits(uint8_t reg, uint8_t bits);
    void clear_bits(uint8_t reg, uint8_t bits);
    // False when the monitor is being stopped.
    bool pause(std::chrono::milliseconds period);

    uint8_t i2c_address = 0x48;
    uint8_t signal_present = 0;
    uint32_t counter = 0;
    std::atomic<uint32_t> state{0};
    uint32_t aud_state = 0;
    std::atomic<uint32_t> format{0};
    std::shared_ptr<hardware> hw;
    std::thread thread;
    bool stop = false;
    std::mutex stop_mutex;
    std::condition_variable stop_cv;
    std::unique_ptr<platform::DeviceFile> fd;
    edid_bytes edid;
};
