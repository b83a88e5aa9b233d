// The "tallyPTZ" thread: blinks the front lamp while homing and while a limit event is handled,
// relays the receivers' NDI tally into the command ring, and runs the QC sweep in QC mode.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "control/debug_command.h"
#include "control/qc_sweep.h"
#include "control/visca_target.h"

class network_send;
class Stepper;
class TallyLamp;

class TallyRelay {
public:
    static constexpr std::chrono::milliseconds kTallyTimeout{500};
    static constexpr std::chrono::milliseconds kBlinkPeriod{450};
    static constexpr std::chrono::milliseconds kQcBlinkPeriod{300};
    static constexpr std::chrono::milliseconds kQcStepPause{500};
    static constexpr uint32_t kPositionReached = 0x400;  // RAMP_STAT bit

    // `sender` may be null: there is no tally to relay then.
    TallyRelay(std::shared_ptr<network_send> sender, ViscaTarget& target, Stepper& stepper, TallyLamp& lamp,
               DebugCommand& debug, bool qcMode);
    ~TallyRelay();
    TallyRelay(const TallyRelay&) = delete;
    TallyRelay& operator=(const TallyRelay&) = delete;

    void start();
    // Wakes every wait without waiting for the thread; in QC mode the camera is sent home
    // before the thread ends.
    void requestStop();
    // Asks and waits for the thread.
    void stop();

private:
    void run();
    void homingBlink();
    void relayTally();
    void limitBlink();
    void qcPass();
    void blink(int mode);
    // False when a stop ends the wait.
    bool pause(std::chrono::milliseconds duration);
    bool stopping() const { return stopRequested.load(); }

    std::shared_ptr<network_send> sender;
    ViscaTarget& target;
    Stepper& stepper;
    TallyLamp& lamp;
    DebugCommand& debug;
    const bool qcMode;
    int phase = 1;
    QcSweep sweep;

    std::atomic<bool> stopRequested{false};
    std::mutex mutex;
    std::condition_variable wake;
    std::thread thread;
};
