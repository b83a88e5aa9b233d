// Plain HTTP/1.0 requests over a loopback socket.
#include "support/http_post.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "support/udp_endpoint.h"

std::string httpExchange(int port, const std::string& request) {
    std::string response;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return response;
    const sockaddr_in address = inetAddress(INADDR_LOOPBACK, static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0) response.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return response;
}

HttpReply httpPost(int port, const std::string& path, const std::string& body) {
    HttpReply reply;
    const std::string response =
        httpExchange(port, "POST " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\n" +
                               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    // "HTTP/1.x NNN ..."
    if (response.size() > 12 && response.compare(0, 5, "HTTP/") == 0)
        reply.status = std::atoi(response.c_str() + response.find(' ') + 1);
    const auto at = response.find("\r\n\r\n");
    if (at != std::string::npos) reply.body = response.substr(at + 4);
    return reply;
}
