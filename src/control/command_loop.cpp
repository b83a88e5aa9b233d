#include "control/command_loop.h"

#include <thread>

void runCommandLoop(CommandRing& ring, const std::atomic<bool>& stop,
                    const std::function<void(const PtzCommand&)>& execute, std::chrono::milliseconds pace) {
    while (!stop.load()) {
        const PtzCommand command = ring.takeCoalesced();
        if (command.code == PTZ_QUIT) return;
        execute(command);
        // sleep_for resumes after signals, so the pace holds.
        std::this_thread::sleep_for(pace);
    }
}
