#include "sim/http/dashboard_routes.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "sim/http/dashboard_page.h"

namespace sim {

namespace {
// A VISCA message is 3 to 16 bytes: an address byte 8x, the message, 0xFF.
constexpr size_t kShortestMessage = 3;
constexpr size_t kLongestMessage = 16;

std::optional<visca::Bytes> parseHex(const std::string& text) {
    std::string digits;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        digits += c;
    }
    if (digits.size() % 2 != 0) return std::nullopt;
    visca::Bytes bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

bool isViscaMessage(const visca::Bytes& bytes) {
    return bytes.size() >= kShortestMessage && bytes.size() <= kLongestMessage && (bytes.front() & 0xF0) == 0x80 &&
           bytes.back() == 0xFF;
}

std::string hexLine(const visca::Bytes& bytes) {
    std::string line;
    char byte[4];
    for (const uint8_t b : bytes) {
        std::snprintf(byte, sizeof byte, line.empty() ? "%02X" : " %02X", b);
        line += byte;
    }
    return line + "\n";
}

int forward(ViscaBridgeClient& bridge, const std::string& body, std::string& reply) {
    const auto payload = parseHex(body);
    if (!payload || !isViscaMessage(*payload)) {
        reply = "a VISCA message in hex is expected: 8x ... FF, 3 to 16 bytes\n";
        return 400;
    }
    const auto result = bridge.exchange(*payload);
    for (const auto& answer : result.replies) reply += hexLine(answer);
    switch (result.outcome) {
        case ViscaBridgeClient::Outcome::answered: return 200;
        case ViscaBridgeClient::Outcome::replyPortBusy:
            reply = "the bridge's reply port is held by another program\n";
            return 503;
        case ViscaBridgeClient::Outcome::noAnswer: break;
    }
    reply += "no answer from the camera's VISCA bridge\n";
    return 504;
}
}  // namespace

void addDashboardRoutes(StateApi& api, ViscaBridgeClient::Ports ports) {
    api.addGet("/", [] {
        StateApi::Reply page;
        page.body = dashboardPage();
        page.contentType = "text/html; charset=utf-8";
        return page;
    });
    auto bridge = std::make_shared<ViscaBridgeClient>(ports);
    api.addPost("/visca", [bridge](const StateApi::Params&, const std::string& body, std::string& reply) {
        return forward(*bridge, body, reply);
    });
}

}  // namespace sim
