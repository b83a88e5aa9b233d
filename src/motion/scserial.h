// SCSerial: the servo packet layer over a termios serial port (non-blocking, raw, 8N1).
#pragma once

#include <cstdint>
#include <memory>

#include "motion/scs.h"

// Kept out of this header: <termios.h> defines macros (VSTART, VSTOP, ...) that clash with
// register names elsewhere in the motion code.
struct termios;

class SCSerial : public SCS {
public:
    static constexpr int kTxBytes = 256;

    SCSerial();
    ~SCSerial() override;

    int appendBytes(const uint8_t* buf, int n) override;
    // Waits with select for at most io_timeout ms in all, reading what is missing after each
    // readiness; returns the count read.
    int readBytes(uint8_t* buf, int n) override;
    int appendByte(uint8_t b) override;
    void flushInput() override;
    void flushOutput() override;

    virtual int noAnswer() const { return no_answer; }
    // Recomputes the speed in the working settings; applied by the next open.
    virtual void setBaudRate(int baud);
    // path: an absolute device path, resolved under the device root. False after perror.
    virtual bool open(int baud, const char* path);
    virtual void close();

    bool isOpen() const { return fd >= 0; }

    int io_timeout = 100;  // milliseconds for one readBytes call
    int no_answer = 0;     // 1 when the last read got no valid answer

protected:
    int fd = -1;
    std::unique_ptr<termios> saved_settings;
    std::unique_ptr<termios> working_settings;
    uint8_t tx_buffer[kTxBytes]{};
    int tx_length = 0;
};
