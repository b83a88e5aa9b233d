#include "control/tally_relay.h"

#include "base/log.h"
#include "media/network_send.h"
#include "motion/stepper.h"
#include "platform/thread_name.h"
#include "status/tally_lamp.h"

TallyRelay::TallyRelay(std::shared_ptr<network_send> sender_, ViscaTarget& target_, Stepper& stepper_,
                       TallyLamp& lamp_, DebugCommand& debug_, bool qcMode_)
    : sender(std::move(sender_)), target(target_), stepper(stepper_), lamp(lamp_), debug(debug_), qcMode(qcMode_) {}

TallyRelay::~TallyRelay() { stop(); }

void TallyRelay::start() {
    if (!thread.joinable()) thread = std::thread([this] { run(); });
}

void TallyRelay::requestStop() {
    {
        std::lock_guard lock(mutex);
        stopRequested = true;
    }
    wake.notify_all();
}

void TallyRelay::stop() {
    requestStop();
    if (thread.joinable()) thread.join();
}

void TallyRelay::run() {
    set_thread_name("tallyPTZ");
    logAt(4, "tallyPTZ start\n");
    homingBlink();
    while (!stopping()) {
        relayTally();
        limitBlink();
        if (qcMode) qcPass();
    }
    if (qcMode) debug.run(DebugCommand::kHome);
    logAt(4, "tallyPTZ stop\n");
}

void TallyRelay::homingBlink() {
    while (!stopping() && stepper.limit_state.load() == -1) {
        blink(0);
        pause(kBlinkPeriod);
    }
    lamp.setTallyLamp(false);
}

void TallyRelay::relayTally() {
    const auto started = std::chrono::steady_clock::now();
    ndi::tally now{};
    const bool changed = sender && sender->library().NDIlib_send_get_tally(
                                       sender->handle(), &now, static_cast<uint32_t>(kTallyTimeout.count()));
    if (changed) {
        target.pushCommand({VISCA_PTZ_TALLY, (now.on_program || now.on_preview) ? 1.0f : 0.0f, 0});
        return;
    }
    // Without a sender, or a library that answers at once, the poll still takes its time-out.
    const auto left = started + kTallyTimeout - std::chrono::steady_clock::now();
    if (left > std::chrono::milliseconds(0)) pause(std::chrono::duration_cast<std::chrono::milliseconds>(left));
}

void TallyRelay::limitBlink() {
    if (stepper.limit_state.load() != -2) return;
    while (!stopping() && stepper.limit_state.load() == -2) {
        blink(1);
        pause(kBlinkPeriod);
    }
    lamp.setTallyLamp(false);
}

void TallyRelay::qcPass() {
    const bool reached = (stepper.tiltRampStatus() & kPositionReached) != 0 &&
                         (stepper.panRampStatus() & kPositionReached) != 0;
    if (!reached || stepper.limit_state.load() != 1) {
        blink(-1);
        pause(kQcBlinkPeriod);
        return;
    }
    const QcSweep::Step step = sweep.next();
    debug.run(step.code, step.args);
    if (pause(step.pause)) pause(kQcStepPause);
}

void TallyRelay::blink(int mode) {
    phase ^= 1;
    lamp.blinkLamp(mode, phase);
}

bool TallyRelay::pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex);
    return !wake.wait_for(lock, duration, [this] { return stopRequested.load(); });
}
