// The HDMI monitor thread: EDID load, receiver initialisation and the 50 ms state machine.
#include "status/hdmi.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "hw/hardware.h"
#include "platform/thread_name.h"
#include "status/hdmi_format.h"

using namespace std::chrono_literals;

namespace {
constexpr uint8_t kStatus = 0x10;
constexpr uint8_t kDetected = 0x02;
constexpr uint8_t kStable = 0x04;

// Register writes of the receiver's initialisation that need no read-back.
constexpr uint8_t kSetup[][2] = {{0x3b, 0x40}, {0x68, 0x03}, {0x6b, 0x11}, {0x6c, 0x00}, {0x93, 0x43},
                                 {0x94, 0x4f}, {0x95, 0x87}, {0x96, 0x33}, {0x56, 0x01}, {0x97, 0x0e},
                                 {0x20, 0x87}, {0x89, 0x33}, {0x9b, 0x01}, {0x1d, 0x30}, {0x75, 0x60},
                                 {0x3d, 0x40}, {0x1b, 0x20}, {0x1c, 0x40}, {0x78, 0xc1}};
constexpr uint8_t kColourMatrix[] = {0xb8, 0x05, 0xb4, 0x01, 0x93, 0x00, 0x49, 0x3c, 0x18,
                                     0x04, 0x9f, 0x3f, 0xd9, 0x3c, 0x10, 0x3f, 0x18, 0x04};

void report_errno(const char* what) { logAt(0, "%s: %s\n", what, std::strerror(errno)); }
}  // namespace

hdmi::hdmi(std::shared_ptr<hardware> hw_, std::shared_ptr<platform::Platform> platform)
    : hw(std::move(hw_)), edid(hdmi_edid()) {
    logAt(4, "hdmi_monitor Constructor\n");
    fd = platform->openDevice(bus_path);
    if (!fd) logAt(2, "Could not open %s\n", bus_path);
    thread = std::thread(&hdmi::monitor, this);
}

hdmi::~hdmi() {
    logAt(4, "\n hdmi_monitor Destructor\n");
    std::fflush(stdout);
    {
        std::lock_guard lock(stop_mutex);
        stop = true;
    }
    stop_cv.notify_all();
    // The descriptor is closed only once the thread no longer uses it.
    if (thread.joinable()) thread.join();
    fd.reset();
}

bool hdmi::pause(std::chrono::milliseconds period) {
    std::unique_lock lock(stop_mutex);
    return !stop_cv.wait_for(lock, period, [this] { return stop; });
}

int hdmi::i2cWrite(uint8_t reg, uint8_t value) {
    uint8_t bytes[2] = {reg, value};
    i2c_msg message{};
    message.addr = i2c_address;
    message.len = 2;
    message.buf = bytes;
    i2c_rdwr_ioctl_data transfer{&message, 1};
    if (!fd) errno = EBADF;
    if (!fd || fd->ioctl(I2C_RDWR, &transfer) < 0) {
        report_errno("ioctl(I2C_RDWR) in i2c_write");
        return -1;
    }
    return 0;
}

int hdmi::i2cRead(uint8_t reg, uint8_t& value) {
    value = 0;
    uint8_t out = reg;
    i2c_msg messages[2]{};
    messages[0].addr = i2c_address;
    messages[0].len = 1;
    messages[0].buf = &out;
    messages[1].addr = i2c_address;
    messages[1].flags = I2C_M_RD | I2C_M_NOSTART;
    messages[1].len = 1;
    messages[1].buf = &value;
    i2c_rdwr_ioctl_data transfer{messages, 2};
    if (!fd) errno = EBADF;
    if (!fd || fd->ioctl(I2C_RDWR, &transfer) < 0) {
        value = 0;
        report_errno("ioctl(I2C_RDWR) in i2c_read");
        return -1;
    }
    return 0;
}

uint8_t hdmi::read(uint8_t reg) {
    uint8_t value = 0;
    i2cRead(reg, value);
    return value;
}

void hdmi::set_bits(uint8_t reg, uint8_t bits) { i2cWrite(reg, static_cast<uint8_t>(read(reg) | bits)); }

void hdmi::clear_bits(uint8_t reg, uint8_t bits) { i2cWrite(reg, static_cast<uint8_t>(read(reg) & ~bits)); }

void hdmi::load_edid() {
    for (int i = 0; i < 64; ++i) hw->write32(edid_block, static_cast<uint32_t>(i), edid_word(edid, i));
}

void hdmi::setup_audio(uint8_t value) {
    clear_bits(0x77, 0x40);
    set_bits(0x87, 0x18);
    clear_bits(0x87, 0x10);
    set_bits(0x05, 0x04);
    clear_bits(0x05, 0x04);
    i2cWrite(0x88, value & 3);
    i2cWrite(0x89, 0x3e);
}

void hdmi::init_receiver() {
    i2cWrite(0x06, 0x00);
    set_bits(0x07, 0x0c);
    i2cWrite(0x05, 0x10);
    i2cWrite(0x05, 0xa1);
    i2cWrite(0x07, 0x0c);
    i2cWrite(0x0f, 0x00);
    for (const auto& [reg, value] : kSetup) i2cWrite(reg, value);
    i2cWrite(0x89, static_cast<uint8_t>((read(0x89) & 0x80) + 0x7f));
    i2cWrite(0x05, 0x20);
    pause(50ms);
    const uint8_t m = read(0x9b) & 0x3f;
    for (int i = 0; i < 16; ++i) {
        i2cWrite(0x9b, m | 0x80);
        i2cWrite(0x9b, m | 0xc0);
    }
    i2cWrite(0x9b, m);
    i2cWrite(0x05, 0x21);
    i2cWrite(0x89, static_cast<uint8_t>((read(0x89) & 0x80) + 0x7f));
    i2cWrite(0x05, 0x20);
    set_bits(0x07, 0x0c);
    clear_bits(0x73, 0xf0);
    i2cWrite(0x11, 0x89);
    pause(50ms);
    clear_bits(0x07, 0x0c);
    i2cWrite(0x21, 0x00);
    i2cWrite(0x22, 0x80);
    i2cWrite(0x23, 0x00);
    for (size_t i = 0; i < sizeof kColourMatrix; ++i) i2cWrite(static_cast<uint8_t>(0x24 + i), kColourMatrix[i]);
    setup_audio(0);
}

int hdmi::detectFormat() {
    const uint32_t now = state.load();
    if (now == 0 || now == 1) return hdmi_format_unknown;
    const hdmi_timing timing = decode_hdmi_timing(read(0x58), read(0x59), read(0x5a), read(0x5b), read(0x5f),
                                                  read(0x60), read(0x61), read(0x64));
    const hdmi_format_match match = identify_hdmi_format(timing, static_cast<int>(format.load()));
    if (match.standard_definition) i2cWrite(0x1c, 0xd4);
    return match.code;
}

void hdmi::monitor() {
    set_thread_name("hdmi");
    hw->write32(control_block, 0, 2);
    load_edid();
    hw->write32(control_block, 0, 3);
    init_receiver();
    hw->write32(control_block, 0, 1);
    while (pause(50ms)) poll();
}

void hdmi::poll() {
    const uint8_t status = read(kStatus);
    switch (state.load()) {
        case 0: no_signal(status); break;
        case 1: waiting_for_stability(status); break;
        case 2: settling(status); break;
        case 3: running(status); break;
        default: state = 0; break;
    }
}

void hdmi::no_signal(uint8_t status) {
    if (!(status & kDetected)) {
        format = 0;
        signal_present = 0;
        counter = 0;
        return;
    }
    if (++counter <= 20) return;
    set_bits(0x97, 0x20);
    set_bits(0x05, 0x86);
    set_bits(0x73, 0x08);
    clear_bits(0x97, 0x20);
    i2cWrite(0x05, read(0x05) & 0x79);
    clear_bits(0x73, 0x08);
    counter = 0;
    state = 1;
}

void hdmi::configure_colour() {
    read(0x20);
    switch (read(0xae) & 0x60) {
        case 0x20: i2cWrite(0x20, 0x04), std::puts("YUV422"); break;
        case 0x40: i2cWrite(0x20, 0x08), std::puts("YUV444"); break;
        case 0x00: i2cWrite(0x20, 0x12), std::puts("RGB\r"); break;
        default: std::puts("Color Mode Invalid!!!\r"); break;
    }
    std::fflush(stdout);
    i2cWrite(0x1b, 0x20);
    i2cWrite(0x1c, 0xd0);
    clear_bits(0x1c, 0x01);
    set_bits(0x1b, 0x02);
    clear_bits(0x1b, 0x01);
    set_bits(0x89, 0x40);
    clear_bits(0x89, 0x40);
    set_bits(0x20, 0x80);
    clear_bits(0x20, 0x80);
}

void hdmi::waiting_for_stability(uint8_t status) {
    if (!(status & kDetected)) {
        state = 0;
        counter = (status & kStable) ? 1 : 0;
    } else if (status & kStable) {
        if (++counter <= 2) return;
        configure_colour();
        counter = 0;
        state = 2;
    } else {
        counter = 0;
    }
}

void hdmi::settling(uint8_t status) {
    if (++counter < 3) return;
    signal_present = (status & kStable) ? 1 : 0;
    if (signal_present) {
        const int code = detectFormat();
        if (code != hdmi_format_unknown) format = static_cast<uint32_t>(code);
    } else {
        format = 0;
    }
    counter = 0;  // state 3 counts its own unstable passes from zero
    state = 3;
    std::puts("HDMI detected");
    std::fflush(stdout);
}

void hdmi::follow_format() {
    const int code = detectFormat();
    if (code == 0 || code == hdmi_format_unknown) return;
    const auto current = static_cast<int>(format.load());
    if (current == 0) {
        format = static_cast<uint32_t>(code);
        return;
    }
    if (code == current) return;
    std::printf("Resolution %d %d\r\n", current, code);
    std::fflush(stdout);
    if (code == 1 || code == 2 || hdmi_pair_partners(current, code)) {
        format = static_cast<uint32_t>(code);
        pause(50ms);
    } else {
        state = 0;
        format = 0;
    }
}

void hdmi::watch_audio() {
    if (aud_state == 8) {
        if (read(0x15) & 0x18) {
            i2cWrite(0x05, 0x24);
            pause(10ms);
            i2cWrite(0x05, 0x20);
        }
        return;
    }
    setup_audio(0);
    aud_state = 8;
    std::printf("m_Dev.audState : %d\n", aud_state);
    std::fflush(stdout);
}

void hdmi::running(uint8_t status) {
    if ((status & (kDetected | kStable)) == (kDetected | kStable)) {
        counter = 0;
    } else if (++counter >= 3) {
        state = 0;
        setup_audio(0);
        aud_state = 0;
    }
    const uint8_t stable = (status & kStable) ? 1 : 0;
    if (stable != signal_present) state = 0;
    if (!stable) {
        format = 0;
        signal_present = 0;
        return;
    }
    follow_format();
    if (state.load() == 3) watch_audio();
}
