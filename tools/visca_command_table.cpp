#include "visca_command_table.h"

#include <cstdlib>
#include <map>

namespace {
using Bytes = std::vector<uint8_t>;

bool number(const std::string& text, long low, long high, long& value) {
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 0);
    return !text.empty() && *end == '\0' && value >= low && value <= high;
}

// Optional argument `index` of words, or the fallback; false when present and bad.
bool argument(const std::vector<std::string>& words, size_t index, long low, long high, long fallback, long& value,
              std::string& error) {
    if (words.size() <= index) {
        value = fallback;
        return true;
    }
    if (number(words[index], low, high, value)) return true;
    error = "bad argument '" + words[index] + "' (" + std::to_string(low) + ".." + std::to_string(high) + ")";
    return false;
}

void appendNibbles(Bytes& out, long value) {
    const auto bits = static_cast<uint16_t>(value);
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(static_cast<uint8_t>((bits >> shift) & 0xF));
}

const std::map<std::string, std::pair<uint8_t, uint8_t>> kDirections = {
    {"up", {0x03, 0x01}},      {"down", {0x03, 0x02}},     {"left", {0x01, 0x03}},
    {"right", {0x02, 0x03}},   {"upleft", {0x01, 0x01}},   {"upright", {0x02, 0x01}},
    {"downleft", {0x01, 0x02}}, {"downright", {0x02, 0x02}},
};

const std::map<std::string, Bytes> kInquiries = {
    {"pantilt", {0x09, 0x06, 0x12}},       {"zoom", {0x09, 0x04, 0x47}},        {"power", {0x09, 0x04, 0x00}},
    {"version", {0x09, 0x00, 0x02}},       {"video", {0x09, 0x06, 0x23}},       {"audio", {0x09, 0x06, 0x24}},
    {"tally", {0x09, 0x7E, 0x01, 0x0A}},   {"panreverse", {0x09, 0x7E, 0x01, 0x06}},
    {"tiltreverse", {0x09, 0x7E, 0x01, 0x09}}, {"ramp", {0x09, 0x06, 0x31}},   {"bec", {0x29, 0x04, 0x50}},
    {"ynm", {0x19, 0x04, 0x50}},           {"wb", {0x09, 0x04, 0x35}},          {"focus", {0x09, 0x04, 0x38}},
    {"exposure", {0x09, 0x04, 0x39}},      {"block0", {0x09, 0x7E, 0x7E, 0x00}}, {"block1", {0x09, 0x7E, 0x7E, 0x01}},
};

std::optional<Bytes> body(const std::vector<std::string>& w, std::string& error) {
    const std::string& name = w[0];
    const std::string sub = w.size() > 1 ? w[1] : "";
    long a = 0, b = 0, c = 0, d = 0;
    if (auto direction = kDirections.find(name); direction != kDirections.end()) {
        if (!argument(w, 1, 1, 24, 8, a, error) || !argument(w, 2, 1, 24, a, b, error)) return std::nullopt;
        return Bytes{0x01, 0x06, 0x01, uint8_t(a), uint8_t(b), direction->second.first, direction->second.second};
    }
    if (name == "stop") return Bytes{0x01, 0x06, 0x01, 0x00, 0x00, 0x03, 0x03};
    if (name == "home") return Bytes{0x01, 0x06, 0x04};
    if (name == "reset") return Bytes{0x01, 0x06, 0x05};
    if (name == "abs" || name == "rel") {
        if (w.size() < 3 || !argument(w, 1, -32768, 32767, 0, a, error) || !argument(w, 2, -32768, 32767, 0, b, error) ||
            !argument(w, 3, 1, 24, 12, c, error) || !argument(w, 4, 1, 24, c, d, error)) {
            if (error.empty()) error = name + " needs PAN TILT";
            return std::nullopt;
        }
        Bytes out{0x01, 0x06, uint8_t(name == "abs" ? 0x02 : 0x03), uint8_t(c), uint8_t(d)};
        appendNibbles(out, a);
        appendNibbles(out, b);
        return out;
    }
    if (name == "zoom") {
        if (sub == "stop") return Bytes{0x01, 0x04, 0x07, 0x00};
        if (sub == "tele" || sub == "wide") {
            if (!argument(w, 2, 0, 7, 4, a, error)) return std::nullopt;
            return Bytes{0x01, 0x04, 0x07, uint8_t((sub == "tele" ? 0x20 : 0x30) | a)};
        }
        if (sub == "pos" && w.size() > 2) {
            if (!argument(w, 2, 0, 16384, 0, a, error)) return std::nullopt;
            Bytes out{0x01, 0x04, 0x47};
            appendNibbles(out, a);
            return out;
        }
    }
    if (name == "preset" && (sub == "set" || sub == "recall" || sub == "reset") && w.size() > 2) {
        if (!argument(w, 2, 0, 9, 0, a, error)) return std::nullopt;
        const uint8_t action = sub == "reset" ? 0x00 : (sub == "set" ? 0x01 : 0x02);
        return Bytes{0x01, 0x04, 0x3F, action, uint8_t(a)};
    }
    if (name == "tally" && (sub == "on" || sub == "off")) return Bytes{0x01, 0x7E, 0x01, 0x0A, 0x00, uint8_t(sub == "on" ? 2 : 3)};
    if (name == "power" && (sub == "on" || sub == "off")) return Bytes{0x01, 0x04, 0x00, uint8_t(sub == "on" ? 2 : 3)};
    if (name == "inq") {
        if (auto inquiry = kInquiries.find(sub); inquiry != kInquiries.end()) return inquiry->second;
    }
    if (error.empty()) error = "unknown command '" + name + (sub.empty() ? "" : " " + sub) + "'";
    return std::nullopt;
}

std::optional<Bytes> raw(const std::vector<std::string>& w, std::string& error) {
    Bytes out;
    for (size_t i = 1; i < w.size(); ++i) {
        long value;
        if (!number("0x" + w[i], 0, 255, value) || w[i].size() > 2) {
            error = "bad hex byte '" + w[i] + "'";
            return std::nullopt;
        }
        out.push_back(static_cast<uint8_t>(value));
    }
    if (out.empty()) error = "raw needs bytes";
    return out.empty() ? std::nullopt : std::optional(out);
}
}  // namespace

std::optional<ViscaRequest> buildRequest(const std::vector<std::string>& words, uint8_t address, std::string& error) {
    error.clear();
    if (words.empty()) {
        error = "no command";
        return std::nullopt;
    }
    if (words[0] == "raw") {
        auto bytes = raw(words, error);
        if (!bytes) return std::nullopt;
        const bool inquiry = bytes->size() > 1 && ((*bytes)[1] == 0x09 || (*bytes)[1] == 0x19 || (*bytes)[1] == 0x29);
        return ViscaRequest{*bytes, inquiry};
    }
    auto bytes = body(words, error);
    if (!bytes) return std::nullopt;
    ViscaRequest request;
    request.inquiry = words[0] == "inq";
    request.payload.push_back(address);
    request.payload.insert(request.payload.end(), bytes->begin(), bytes->end());
    request.payload.push_back(0xFF);
    return request;
}

const char* commandHelp() {
    return "commands:\n"
           "  up|down|left|right|upleft|upright|downleft|downright [PANSPEED [TILTSPEED]]  (1..24, default 8)\n"
           "  stop | home | reset\n"
           "  abs PAN TILT [PANSPEED [TILTSPEED]]   position from home, VISCA units (-32768..32767)\n"
           "  rel PAN TILT [PANSPEED [TILTSPEED]]   position from where the head is\n"
           "  zoom stop | zoom tele [SPEED] | zoom wide [SPEED] | zoom pos 0..16384\n"
           "  preset set|recall|reset 0..9\n"
           "  tally on|off | power on|off\n"
           "  inq pantilt|zoom|power|version|video|audio|tally|panreverse|tiltreverse|ramp|wb|focus|\n"
           "      exposure|bec|ynm|block0|block1\n"
           "  raw HEX...                            a whole payload, e.g. raw 81 01 06 04 FF\n";
}
