// ptzvisca: a VISCA-over-IP command-line client for the camera or its local web bridge.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "control/visca_framing.h"
#include "visca_command_table.h"

namespace {
enum Exit { kDone = 0, kErrorReply = 1, kTimedOut = 2, kSocketFailed = 3, kUsage = 64 };

struct Options {
    std::string host = "127.0.0.1";
    bool bridge = false;
    int port = -1;    // where requests go
    int listen = -1;  // where replies arrive
    int timeoutMs = 2000;
    std::vector<std::string> words;
};

int usage(const char* message) {
    if (message) std::fprintf(stderr, "ptzvisca: %s\n", message);
    std::fprintf(stderr,
                 "usage: ptzvisca [--host IP | --bridge] [--port N] [--listen N] [--timeout MS] COMMAND...\n"
                 "  --host IP     camera address (replies come back to port 52381 of this machine)\n"
                 "  --bridge      the local web bridge: 127.0.0.1:52385, replies on 52386\n"
                 "%s"
                 "exit status: 0 done, 1 error reply, 2 no answer in time, 3 socket failure, 64 usage\n",
                 commandHelp());
    return kUsage;
}

bool parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--bridge") {
            o.bridge = true;
        } else if (arg == "--host" && hasValue) {
            o.host = argv[++i];
        } else if (arg == "--port" && hasValue) {
            o.port = std::atoi(argv[++i]);
        } else if (arg == "--listen" && hasValue) {
            o.listen = std::atoi(argv[++i]);
        } else if (arg == "--timeout" && hasValue) {
            o.timeoutMs = std::atoi(argv[++i]);
        } else if (arg.rfind("--", 0) == 0) {
            return false;
        } else {
            o.words.assign(argv + i, argv + argc);
            break;
        }
    }
    if (o.bridge) o.host = "127.0.0.1";
    if (o.port < 0) o.port = o.bridge ? visca::kBridgePort : visca::kViscaPort;
    if (o.listen < 0) o.listen = o.bridge ? visca::kBridgeReplyPort : visca::kViscaPort;
    return !o.words.empty() && o.port > 0 && o.port < 65536 && o.listen > 0 && o.listen < 65536;
}

std::string hex(const uint8_t* data, size_t size) {
    std::string out;
    char byte[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", data[i]);
        out += byte;
    }
    return out;
}

class Exchange {
public:
    Exchange(int fd, sockaddr_in camera, uint32_t sequence, bool inquiry, int timeoutMs)
        : fd(fd), camera(camera), sequence(sequence), inquiry(inquiry),
          deadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {}

    int run(const std::vector<uint8_t>& payload) {
        const auto datagram = visca::frame(inquiry ? visca::kTypeInquiry : visca::kTypeCommand, sequence, payload);
        if (sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&camera),
                   sizeof camera) < 0) {
            std::perror("ptzvisca: send");
            return kSocketFailed;
        }
        for (;;) {
            const int remaining = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                       deadline - std::chrono::steady_clock::now())
                                                       .count());
            pollfd p{fd, POLLIN, 0};
            if (remaining <= 0 || poll(&p, 1, remaining) <= 0) {
                std::puts("Timeout");
                return kTimedOut;
            }
            uint8_t buffer[1500];
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n < 0) continue;
            if (const int status = handle(buffer, static_cast<size_t>(n)); status >= 0) return status;
        }
    }

private:
    // The exit status once the exchange is over, -1 while it goes on.
    int handle(const uint8_t* d, size_t n) {
        const std::span<const uint8_t> datagram(d, n);
        if (n == 9 && visca::payloadType(datagram) == visca::kTypeControlReply) {
            std::printf("Control reply %s\n", hex(d, n).c_str());
            return kErrorReply;
        }
        if (n < 11 || visca::payloadType(datagram) != visca::kTypeReply) return -1;
        if (visca::sequenceNumber(datagram) != sequence) return -1;  // a late answer to someone else
        const uint8_t* reply = d + visca::kHeaderBytes;
        const size_t length = n - visca::kHeaderBytes;
        const uint8_t kind = reply[1] & 0xF0;
        if (kind == 0x40) {
            std::puts("ACK");
            return -1;
        }
        if (kind == 0x50 && !inquiry) {
            std::puts("Completion");
            return kDone;
        }
        if (kind == 0x50) {
            std::printf("Answer %s\n", hex(reply, length).c_str());
            return kDone;
        }
        if (kind == 0x60) {
            std::printf(reply[2] == 0x02 ? "Syntax error %s\n" : "Error %s\n", hex(reply, length).c_str());
            return kErrorReply;
        }
        std::printf("Reply %s\n", hex(reply, length).c_str());
        return -1;
    }

    int fd;
    sockaddr_in camera;
    uint32_t sequence;
    bool inquiry;
    std::chrono::steady_clock::time_point deadline;
};

int openListener(const Options& o) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(o.listen));
    local.sin_addr.s_addr = htonl(o.bridge ? INADDR_LOOPBACK : INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}
}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) return usage(nullptr);
    if (!parseOptions(argc, argv, options)) return usage("missing or bad arguments");
    std::string error;
    const auto request = buildRequest(options.words, options.bridge ? 0x82 : 0x81, error);
    if (!request) return usage(error.c_str());

    sockaddr_in camera{};
    camera.sin_family = AF_INET;
    camera.sin_port = htons(static_cast<uint16_t>(options.port));
    if (inet_pton(AF_INET, options.host.c_str(), &camera.sin_addr) != 1) return usage("--host needs an IPv4 address");

    const int fd = openListener(options);
    if (fd < 0) {
        std::fprintf(stderr, "ptzvisca: cannot listen on port %d: %s\n", options.listen, std::strerror(errno));
        return kSocketFailed;
    }
    const auto sequence = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const int status = Exchange(fd, camera, sequence, request->inquiry, options.timeoutMs).run(request->payload);
    close(fd);
    return status;
}
