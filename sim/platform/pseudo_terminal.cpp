#include "sim/platform/pseudo_terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace sim {

namespace {
int bitsPerSecond(speed_t speed) {
    switch (speed) {
        case B9600: return 9600;
        case B19200: return 19200;
        case B38400: return 38400;
        case B57600: return 57600;
        case B115200: return 115200;
        case B230400: return 230400;
        case B460800: return 460800;
        case B500000: return 500000;
        case B1000000: return 1000000;
        default: return 0;
    }
}
}  // namespace

PseudoTerminal::PseudoTerminal() {
    masterFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd < 0 || grantpt(masterFd) != 0 || unlockpt(masterFd) != 0) {
        if (masterFd >= 0) ::close(masterFd);
        throw std::runtime_error("ptzcam-sim: cannot open a pseudo-terminal");
    }
    char name[128];
    if (ptsname_r(masterFd, name, sizeof name) != 0) {
        ::close(masterFd);
        throw std::runtime_error("ptzcam-sim: cannot name the pseudo-terminal");
    }
    slaveName = name;
    slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd >= 0) {
        // A UART does no line editing and no echo: raw until the application sets its own.
        termios settings{};
        tcgetattr(slaveFd, &settings);
        cfmakeraw(&settings);
        tcsetattr(slaveFd, TCSANOW, &settings);
    }
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal() {
    if (slaveFd >= 0) ::close(slaveFd);
    if (masterFd >= 0) ::close(masterFd);
}

void PseudoTerminal::hangUp() {
    if (masterFd >= 0) ::close(masterFd);
    masterFd = -1;
}

int PseudoTerminal::baud() const {
    termios settings{};
    if (slaveFd < 0 || tcgetattr(slaveFd, &settings) != 0) return 0;
    return bitsPerSecond(cfgetospeed(&settings));
}

}  // namespace sim
