#include "motion/scserial.h"

#include <fcntl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/log.h"
#include "motion/serial_speed.h"
#include "platform/device_path.h"

SCSerial::SCSerial() : saved_settings(std::make_unique<termios>()), working_settings(std::make_unique<termios>()) {}

SCSerial::~SCSerial() { close(); }

int SCSerial::appendBytes(const uint8_t* buf, int n) {
    const int room = kTxBytes - tx_length;
    const int count = n < room ? n : room;  // nothing this program sends comes near the end
    if (count > 0) std::memcpy(tx_buffer + tx_length, buf, static_cast<size_t>(count));
    tx_length += count > 0 ? count : 0;
    return tx_length;
}

int SCSerial::appendByte(uint8_t b) { return appendBytes(&b, 1); }

int SCSerial::readBytes(uint8_t* buf, int n) {
    using clock = std::chrono::steady_clock;
    if (fd < 0 || n <= 0) return 0;
    // One budget for the whole call: every select gets what is left of it.
    const auto deadline = clock::now() + std::chrono::milliseconds(io_timeout);
    int got = 0;
    while (got < n) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - clock::now());
        if (left.count() <= 0) break;
        timeval timeout{static_cast<time_t>(left.count() / 1000000), static_cast<suseconds_t>(left.count() % 1000000)};
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        const int ready = select(fd + 1, &readable, nullptr, nullptr, &timeout);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const ssize_t count = ::read(fd, buf + got, static_cast<size_t>(n - got));
        if (count > 0) got += static_cast<int>(count);
        else if (count == 0 || (errno != EAGAIN && errno != EINTR)) break;
    }
    return got;
}

void SCSerial::flushInput() {
    if (fd >= 0) tcflush(fd, TCIFLUSH);
}

void SCSerial::flushOutput() {
    if (fd >= 0 && tx_length > 0) {
        int sent = 0;
        while (sent < tx_length) {
            const ssize_t count = ::write(fd, tx_buffer + sent, static_cast<size_t>(tx_length - sent));
            if (count > 0) sent += static_cast<int>(count);
            else if (count < 0 && errno == EINTR) continue;
            else break;  // a port that takes nothing: the answer will be missing
        }
    }
    tx_length = 0;
}

void SCSerial::setBaudRate(int baud) {
    const speed_t speed = serialSpeed(baud);
    cfsetispeed(working_settings.get(), speed);
    cfsetospeed(working_settings.get(), speed);
}

bool SCSerial::open(int baud, const char* path) {
    close();
    const std::string device = platform::devicePath(path);
    fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::perror("open");
        return false;
    }
    fcntl(fd, F_SETFL, O_NONBLOCK);
    tcgetattr(fd, saved_settings.get());
    termios& working = *working_settings;
    working = *saved_settings;
    const speed_t speed = serialSpeed(baud);
    logAt(5, "serial speed %d\n", baud);
    cfsetispeed(&working, speed);
    cfsetospeed(&working, speed);
    working.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    working.c_cflag |= CS8 | CREAD | CLOCAL;
    cfmakeraw(&working);
    working.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | ISTRIP | INPCK | BRKINT);
    if (tcsetattr(fd, TCSANOW, &working) != 0) {
        std::perror("tcsetattr");
        ::close(fd);
        fd = -1;
        return false;
    }
    return true;
}

void SCSerial::close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    tx_length = 0;
}
