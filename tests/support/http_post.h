// HTTP requests on 127.0.0.1 for the HTTP API tests.
#pragma once

#include <string>

struct HttpReply {
    int status = 0;  // 0 when nothing answered
    std::string body;
};

// The whole response to one request sent to 127.0.0.1; empty when nothing answered.
std::string httpExchange(int port, const std::string& request);
HttpReply httpPost(int port, const std::string& path, const std::string& body);
