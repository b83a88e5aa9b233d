#include "motion/multi_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "base/log.h"
#include "motion/serial_speed.h"
#include "platform/device_path.h"

namespace {
// setBaud knows 230400 and not 1000000, unlike open (serialSpeed).
speed_t setBaudSpeed(int baud) {
    switch (baud) {
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 230400: return B230400;
        case 500000: return B500000;
        default: return B115200;
    }
}

constexpr uint8_t kProbeFrame[7] = {'#', 't', 'u', 'l', 'm', 'o', '*'};
constexpr uint8_t kProbeAnswer[7] = {'$', 't', 'u', 'l', 'm', 'o', '*'};
constexpr int kProbeWaitMs = 1000;
}  // namespace

MultiPort::MultiPort()
    : saved_settings(std::make_unique<termios>()),
      working_settings(std::make_unique<termios>()),
      wake_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

MultiPort::~MultiPort() {
    close();
    if (wake_fd >= 0) ::close(wake_fd);
}

void MultiPort::stopWaiting() {
    const uint64_t one = 1;
    if (wake_fd >= 0 && ::write(wake_fd, &one, sizeof one) < 0) logAt(2, "MultiPort wake failed\n");
}

int MultiPort::setBaud(int baud) {
    std::lock_guard lock(send_mutex);
    const int descriptor = fd.load();
    if (descriptor < 0) return descriptor;
    tcgetattr(descriptor, working_settings.get());
    cfsetispeed(working_settings.get(), setBaudSpeed(baud));
    cfsetospeed(working_settings.get(), setBaudSpeed(baud));
    return 1;
}

int MultiPort::open(int baud, const char* path) {
    close();
    if (path == nullptr) return 0;
    std::lock_guard lock(send_mutex);
    const std::string device = platform::devicePath(path);
    const int descriptor = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) {
        std::perror("open:");
        return 0;
    }
    fcntl(descriptor, F_SETFL, O_NONBLOCK);
    tcgetattr(descriptor, saved_settings.get());
    termios& working = *working_settings;
    working = *saved_settings;
    cfsetispeed(&working, serialSpeed(baud));
    cfsetospeed(&working, serialSpeed(baud));
    logAt(5, "serial speed %d\n", baud);
    working.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    working.c_cflag |= CS8 | CREAD | CLOCAL;
    cfmakeraw(&working);
    working.c_iflag &= ~static_cast<tcflag_t>(BRKINT | INPCK | ISTRIP | ICRNL | IXON);
    if (tcsetattr(descriptor, TCSANOW, &working) != 0) {
        std::perror("tcsetattr:");
        ::close(descriptor);
        return 0;
    }
    fd = descriptor;
    return 1;
}

void MultiPort::close() {
    std::lock_guard lock(send_mutex);
    const int descriptor = fd.exchange(-1);
    if (descriptor >= 0) ::close(descriptor);
    tx_length = 0;
}

void MultiPort::writePending() {
    const int descriptor = fd.load();
    int sent = 0;
    while (descriptor >= 0 && sent < tx_length) {
        const ssize_t count = ::write(descriptor, tx_buffer + sent, static_cast<size_t>(tx_length - sent));
        if (count > 0) sent += static_cast<int>(count);
        else if (count < 0 && errno == EINTR) continue;
        else break;  // write errors are ignored: the adapter is gone or full
    }
    tx_length = 0;
}

int MultiPort::sendKey(char c1, char c2) {
    const uint8_t frame[6] = {'#', '7', static_cast<uint8_t>(c1), static_cast<uint8_t>(c2), '0', '*'};
    std::lock_guard lock(send_mutex);
    if (fd.load() >= 0) tcflush(fd.load(), TCIFLUSH);
    std::memcpy(tx_buffer + tx_length, frame, sizeof frame);
    tx_length += static_cast<int>(sizeof frame);
    writePending();
    return 1;
}

int MultiPort::sendRaw(std::span<const uint8_t, 7> frame) {
    std::lock_guard lock(send_mutex);
    if (fd.load() >= 0) tcflush(fd.load(), TCIFLUSH);
    std::memcpy(tx_buffer + tx_length, frame.data(), frame.size());
    tx_length += static_cast<int>(frame.size());
    writePending();
    return 1;
}

// A hung-up port counts as readable: the read that follows tells that it is gone.
bool MultiPort::waitReadable(int descriptor, int timeoutMs) const {
    if (descriptor < 0) return false;
    pollfd watched[2] = {{descriptor, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    int ready;
    do ready = ::poll(watched, 2, timeoutMs);
    while (ready < 0 && errno == EINTR);
    return ready > 0 && watched[1].revents == 0 && watched[0].revents != 0;
}

int MultiPort::readTimed(uint8_t* buf, int len) {
    const int descriptor = fd.load();
    int total = 0;
    while (total < len && waitReadable(descriptor, read_timeout_ms)) {
        const ssize_t count = ::read(descriptor, buf + total, static_cast<size_t>(len - total));
        if (count <= 0 && errno != EAGAIN && errno != EINTR) break;  // hung up
        if (count > 0) total += static_cast<int>(count);
        logAt(5, "nLen = %d rvLen = %d\n", len, total);
    }
    logAt(5, "serial read fd read return 0\n");
    return total;
}

int MultiPort::readOnce(uint8_t* buf, int len) {
    std::memset(buf, 0, static_cast<size_t>(std::max(len, 0)));
    // One descriptor for the wait and the read: a probe on another thread may reopen the port.
    const int descriptor = fd.load();
    if (descriptor < 0) return -1;
    if (!waitReadable(descriptor, read_timeout_ms)) {
        logAt(5, "serial read fd read return 0\n");
        return 0;
    }
    const ssize_t count = ::read(descriptor, buf, static_cast<size_t>(std::min(len, kReadOnceBytes)));
    // EBADF: closed meanwhile by a probe, which is not a hang-up.
    if (count < 0 && (errno == EAGAIN || errno == EINTR || errno == EBADF)) return 0;
    // Readable yet nothing to read: the other end hung up (EIO on a pseudo-terminal, 0 at end of file).
    if (count <= 0) return -1;
    logAt(5, "Raw  MultiPort : ");
    for (ssize_t i = 0; i < count; ++i) logAt(5, "0x%02x ", buf[i]);
    logAt(5, "\n");
    return static_cast<int>(count);
}

bool MultiPort::probe() {
    std::lock_guard lock(probe_mutex);
    if (open(kProbeBaud, kPort) == 0) throw std::runtime_error("Failed to init ttyS1");
    std::puts("Send Multi-Port Ping..Wait");
    sendRaw(kProbeFrame);
    if (!waitReadable(fd.load(), kProbeWaitMs)) {
        std::puts("...Failed.");
        return false;
    }
    uint8_t answer[kProbeAnswerBytes] = {};
    const ssize_t count = ::read(fd.load(), answer, sizeof answer);
    std::fputs("sRaw  MultiPort : ", stdout);
    for (ssize_t i = 0; i < count; ++i) std::printf("0x%02x ", answer[i]);
    std::puts("");
    if (count < 7 || std::memcmp(answer, kProbeAnswer, sizeof kProbeAnswer) != 0) {
        std::puts("...Failed.");
        return false;
    }
    std::puts("...Ok.");
    std::fputs("MultiPort Mode Enable (LANC Disable).\n", stdout);
    std::fflush(stdout);
    return true;
}
