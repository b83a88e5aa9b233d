// The "ndiPTZ" thread: takes the receivers' PTZ metadata from the NDI sender and queues one
// command record per frame.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "control/ndi_ptz_metadata.h"
#include "control/visca_target.h"

class network_send;

class NdiPtzReceiver {
public:
    static constexpr std::chrono::milliseconds kCaptureTimeout{200};

    NdiPtzReceiver(std::shared_ptr<network_send> sender, ViscaTarget& target);
    ~NdiPtzReceiver();
    NdiPtzReceiver(const NdiPtzReceiver&) = delete;
    NdiPtzReceiver& operator=(const NdiPtzReceiver&) = delete;

    void start();
    // Asks the thread to end without waiting for it.
    void requestStop();
    // Asks and waits: returns within one capture time-out.
    void stop();

    // One frame's text to its record in the ring (a malformed frame is dropped with a
    // level-2 message); false when it was dropped.
    bool handleFrame(std::string text);

    uint64_t framesReceived() const { return frames.load(); }
    // The last record queued (code 0 before the first).
    PtzCommand lastCommand() const;

private:
    void run();
    void captureOne();
    // Waits out what is left of a capture that came back early, so a failing library cannot spin us.
    void waitRest(std::chrono::steady_clock::time_point started);

    std::shared_ptr<network_send> sender;
    ViscaTarget& target;
    std::atomic<uint64_t> frames{0};
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    PtzCommand last;
    std::thread thread;
};
