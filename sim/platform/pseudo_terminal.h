// A pseudo-terminal whose slave side the application opens as a serial port and whose
// master side a model serves, so that termios, select and time-outs run for real.
#pragma once

#include <string>

namespace sim {

class PseudoTerminal {
public:
    // Throws std::runtime_error when no pseudo-terminal can be had.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Non-blocking master descriptor, for the model on the far end.
    int master() const { return masterFd; }
    const std::string& slavePath() const { return slaveName; }
    // The line speed the port was set to (bits per second), read from the slave's settings.
    int baud() const;
    // Closes the master side: the application's reads and writes on the slave fail from then on.
    void hangUp();

private:
    int masterFd = -1;
    // Held open so the master never sees a hang-up between the application's opens.
    int slaveFd = -1;
    std::string slaveName;
};

}  // namespace sim
