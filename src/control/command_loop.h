// The body of the queue thread: executes ring records one at a time, paced.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>

#include "control/command_ring.h"

inline constexpr std::chrono::milliseconds kCommandPace{30};

// Runs until PTZ_QUIT is taken or `stop` is seen between commands; `execute`
// is called without the ring's lock held, and at most once per `pace`.
void runCommandLoop(CommandRing& ring, const std::atomic<bool>& stop,
                    const std::function<void(const PtzCommand&)>& execute,
                    std::chrono::milliseconds pace = kCommandPace);
