#include "platform/signal_watcher.h"

#include <unistd.h>

#include <mutex>

#include "platform/thread_name.h"

namespace {
std::mutex actionMutex;
std::function<void()> stopAction;
uint64_t actionToken = 0;

sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}
}  // namespace

void SignalWatcher::block() {
    const sigset_t set = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher() {
    const sigset_t set = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, &previousMask);
    thread = std::thread([this] { watch(); });
}

SignalWatcher::~SignalWatcher() {
    stopping = true;
    pthread_kill(thread.native_handle(), SIGHUP);
    thread.join();
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}

uint64_t SignalWatcher::setStopAction(std::function<void()> action) {
    std::lock_guard lock(actionMutex);
    stopAction = std::move(action);
    return ++actionToken;
}

void SignalWatcher::clearStopAction(uint64_t token) {
    std::lock_guard lock(actionMutex);
    if (token == actionToken) stopAction = nullptr;
}

const char* SignalWatcher::lineFor(int signal) {
    switch (signal) {
        case SIGINT: return "\nSIGINT";
        case SIGTERM: return "\nSIGTERM";
        case SIGHUP: return "\nSIGHUP";
        default: return nullptr;
    }
}

void SignalWatcher::respondLocked(int signal, FILE* out) {
    if (stopAction) stopAction();
    if (const char* line = lineFor(signal)) std::fprintf(out, "%s\n", line);
    std::fflush(out);
}

void SignalWatcher::respond(int signal, FILE* out) {
    std::lock_guard lock(actionMutex);
    respondLocked(signal, out);
}

void SignalWatcher::watch() {
    set_thread_name("signals");
    const sigset_t set = terminationSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        if (stopping) return;
        // Held to the end: whoever clears the action waits until the process is gone.
        std::lock_guard lock(actionMutex);
        // Keep standard output to ourselves until the end, so the signal's line is the last one
        // even if other threads print while the process is being torn down.
        flockfile(stdout);
        respondLocked(signal, stdout);
        // Not fflush(nullptr): the console may hold standard input's lock while it waits for a line.
        std::fflush(stderr);
        _exit(signal);
    }
}
