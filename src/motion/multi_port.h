// MultiPort: the serial adapter that carries camera keys when the head has no LANC link:
// its port, the key and reply frames it takes, and the probe that finds it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

struct termios;

class MultiPort {
public:
    static constexpr const char* kPort = "/dev/ttyS1";
    static constexpr int kProbeBaud = 9600;
    static constexpr int kTxBytes = 64;
    static constexpr int kReadOnceBytes = 128;
    static constexpr int kProbeAnswerBytes = 32;

    MultiPort();
    virtual ~MultiPort();
    MultiPort(const MultiPort&) = delete;
    MultiPort& operator=(const MultiPort&) = delete;

    // Recomputes both speeds in the kept settings (applied by the next open); the descriptor when closed.
    virtual int setBaud(int baud);
    // 1 when open and set up (raw 8N1); 0 after perror. No path: 0.
    virtual int open(int baud, const char* path);
    virtual void close();

    // One key frame "#7" c1 c2 "0*"; pending input is discarded first.
    int sendKey(char c1, char c2);
    // A whole 7-byte frame.
    int sendRaw(std::span<const uint8_t, 7> frame);

    // Reads until len bytes arrived or a wait of the time-out found nothing; the count read.
    int readTimed(uint8_t* buf, int len);
    // One wait and one read of at most 128 bytes into a cleared buffer; 0 on time-out, -1 when
    // the port is gone (hung up or closed).
    int readOnce(uint8_t* buf, int len);

    // Opens the port at 9600 and pings the adapter: true when it answered "$tulmo*". Throws
    // std::runtime_error("Failed to init ttyS1") when the port cannot be set up.
    bool probe();

    // The descriptor the socket thread watches, -1 when closed.
    int descriptor() const { return fd.load(); }

    // Ends every wait for the adapter, the one in progress and all later ones: the camera is
    // closing, and a probe must not hold it for its whole time-out.
    void stopWaiting();

    int read_timeout_ms = 100;

private:
    // Callers hold send_mutex.
    void writePending();
    bool waitReadable(int descriptor, int timeoutMs) const;

    std::atomic<int> fd{-1};
    std::unique_ptr<termios> saved_settings;
    std::unique_ptr<termios> working_settings;
    // Becomes readable, and stays so, once waits are to end.
    int wake_fd = -1;
    uint8_t tx_buffer[kTxBytes]{};
    int tx_length = 0;
    // Key frames (queuePTZ) and reply frames (viscaPTZ) share the transmit buffer.
    std::mutex send_mutex;
    // Both threads may ask for a probe (home, zoom restart): one ping and its answer at a time.
    std::mutex probe_mutex;
};
