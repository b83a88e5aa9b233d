// Termination signals (SIGINT, SIGTERM, SIGHUP) handled on one named thread instead of in a handler.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <thread>

class SignalWatcher {
public:
    // Blocks the signals in the calling thread (so in every thread started after it) and
    // starts the "signals" thread. Create it before any other thread exists.
    SignalWatcher();
    // Stops and joins the thread and restores the caller's signal mask.
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    // Blocks the signals in the calling thread; for a process that starts threads before the entry.
    static void block();

    // The action run before the process ends on a signal (the stepper's motor stop).
    // Returns a token; clearing with a stale token leaves a newer action in place.
    static uint64_t setStopAction(std::function<void()> action);
    // Waits for a running action to finish.
    static void clearStopAction(uint64_t token);

    // Runs the stop action and writes the signal's line to out; the process then ends.
    static void respond(int signal, FILE* out);
    static const char* lineFor(int signal);

private:
    static void respondLocked(int signal, FILE* out);
    void watch();

    sigset_t previousMask{};
    std::atomic<bool> stopping{false};
    std::thread thread;
};
