#include "control/ndi_ptz_metadata.h"

#include <strings.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <rapidxml.hpp>

#include "base/log.h"

namespace {
using Node = rapidxml::xml_node<char>;
using Request = NdiPtzMetadata::Request;

bool sameWord(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// Attribute names are matched exactly.
const char* attribute(const Node& node, const char* name) {
    const rapidxml::xml_attribute<char>* found = node.first_attribute(name);
    return found != nullptr ? found->value() : nullptr;
}

double number(const Node& node, const char* name, double fallback) {
    const char* text = attribute(node, name);
    return text != nullptr ? std::strtod(text, nullptr) : fallback;
}

void set(Request& out, int32_t code, double arg1 = 0, double arg2 = 0) {
    out.command = {code, static_cast<float>(arg1), static_cast<float>(arg2)};
}

void zoom(const Node& node, Request& out) {
    const char* text = attribute(node, "zoom");
    if (text == nullptr) return set(out, NDI_ZOOM);
    const double value = std::strtod(text, nullptr);
    if (value == -1.0) {
        out.zoomRestart = true;
        return set(out, 0);
    }
    set(out, NDI_ZOOM, NdiPtzMetadata::clamp01(value));
}

void zoomSpeed(const Node& node, Request& out) {
    const double value = number(node, "zoom_speed", 0);
    if (value == 0) return set(out, NDI_ZOOM_SPEED_STOP);
    const double used = NdiPtzMetadata::clampPM(value);
    std::printf("ndi zoom_speed %lf %lf\n", value, used);
    set(out, NDI_ZOOM_SPEED, used);
}

void panTiltSpeed(const Node& node, Request& out) {
    const double pan = number(node, "pan_speed", 0), tilt = number(node, "tilt_speed", 0);
    if (pan == 0 && tilt == 0) return set(out, NDI_PT_SPEED_STOP);
    set(out, NDI_PT_SPEED, NdiPtzMetadata::clampPM(pan), NdiPtzMetadata::clampPM(tilt));
}

void panTilt(const Node& node, Request& out) {
    set(out, NDI_PT_MOVE, NdiPtzMetadata::clampPM(number(node, "pan", 0)),
        NdiPtzMetadata::clampPM(number(node, "tilt", 0)));
}

void panHome(const Node& node, Request& out) {
    set(out, NDI_PT_HOME, NdiPtzMetadata::clampPM(number(node, "pan", 0)),
        NdiPtzMetadata::clampPM(number(node, "tilt", 0)));
}

// The preset index, or -1 when it is out of range.
long presetIndex(const Node& node) {
    const char* text = attribute(node, "index");
    const long index = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
    return index >= 0 && index <= NdiPtzMetadata::kMaxPresetIndex ? index : -1;
}

void storePreset(const Node& node, Request& out) {
    const long index = presetIndex(node);
    if (index >= 0) set(out, NDI_STORE_PRESET, static_cast<double>(index));
}

void recallPreset(const Node& node, Request& out) {
    const long index = presetIndex(node);
    if (index >= 0)
        set(out, NDI_RECALL_PRESET, static_cast<double>(index), NdiPtzMetadata::clamp01(number(node, "speed", 1.0)));
}

bool keyword(const Node& node, const char* name, const char* word) {
    const char* text = attribute(node, name);
    return text != nullptr && sameWord(text, word);
}

void flip(const Node& node, Request& out) { set(out, NDI_FLIP, keyword(node, "enabled", "true") ? 1.0 : 0.0); }

void focus(const Node& node, Request& out) {
    if (keyword(node, "mode", "auto")) {
        logAt(5, "ntk_ptz_focus, Auto focus on.\n");
        set(out, NDI_FOCUS_AUTO);
    } else if (keyword(node, "mode", "manual")) {
        const double distance = NdiPtzMetadata::clamp01(number(node, "distance", 0.5));
        logAt(5, "ntk_ptz_focus, Manual focus to distance = %1.2f\n", distance);
        set(out, NDI_FOCUS_MANUAL, distance);
    }
}

void focusSpeed(const Node& node, Request& out) {
    const double speed = NdiPtzMetadata::clampPM(number(node, "focus_speed", 0));
    logAt(5, "Move manual focus at speed = %1.2f\n", speed);
    set(out, NDI_FOCUS_SPEED, speed);
}

void whiteBalance(const Node& node, Request& out) {
    static constexpr std::array<std::pair<const char*, int32_t>, 4> kModes = {
        {{"auto", NDI_WB_AUTO}, {"indoor", NDI_WB_INDOOR}, {"outdoor", NDI_WB_OUTDOOR}, {"one_shot", NDI_WB_ONE_SHOT}}};
    for (const auto& [word, code] : kModes)
        if (keyword(node, "mode", word)) return set(out, code);
    if (keyword(node, "mode", "manual"))
        set(out, NDI_WB_MANUAL, NdiPtzMetadata::clamp01(number(node, "red", 0.5)),
            NdiPtzMetadata::clamp01(number(node, "blue", 0.5)));
}

void exposure(const Node& node, Request& out) {
    if (keyword(node, "mode", "auto")) return set(out, NDI_EXPOSURE_AUTO);
    if (keyword(node, "mode", "manual"))
        set(out, NDI_EXPOSURE_MANUAL, 0, NdiPtzMetadata::clamp01(number(node, "value", 0.5)));
}

struct Element {
    const char* name;
    void (*build)(const Node&, Request&);
};

constexpr std::array<Element, 12> kElements = {{
    {"ntk_ptz_zoom", zoom},
    {"ntk_ptz_zoom_speed", zoomSpeed},
    {"ntk_ptz_pan_tilt_speed", panTiltSpeed},
    {"ntk_ptz_pan_tilt", panTilt},
    {"ntk_ptz_pan_home", panHome},
    {"ntk_ptz_store_preset", storePreset},
    {"ntk_ptz_recall_preset", recallPreset},
    {"ntk_ptz_flip", flip},
    {"ntk_ptz_focus", focus},
    {"ntk_ptz_focus_speed", focusSpeed},
    {"ntk_ptz_white_balance", whiteBalance},
    {"ntk_ptz_exposure", exposure},
}};

// Where the first `marker` after p ends, or `end`.
const char* after(const char* p, const char* end, const char* marker) {
    const size_t length = std::strlen(marker);
    for (; p + length <= end; ++p)
        if (std::memcmp(p, marker, length) == 0) return p + length;
    return end;
}

// The end of an element tag from its name on: quoted values may hold '>' and '<'.
const char* tagEnd(const char* p, const char* end) {
    for (; p < end && *p != '>'; ++p) {
        if (*p != '"' && *p != '\'') continue;
        const char* close = static_cast<const char*>(std::memchr(p + 1, *p, static_cast<size_t>(end - p - 1)));
        if (close == nullptr) return end;
        p = close;
    }
    return p < end ? p + 1 : end;
}

// A document type declaration, whose internal subset in brackets may hold anything.
const char* doctypeEnd(const char* p, const char* end) {
    int brackets = 0;
    for (; p < end; ++p) {
        if (*p == '[') ++brackets;
        if (*p == ']' && brackets > 0) --brackets;
        if (*p == '>' && brackets == 0) return p + 1;
    }
    return end;
}

// True when no element opens more than `limit` levels deep. The markup is skipped the way the
// parser skips it, so text inside comments, declarations or quotes never counts as a tag.
bool nestingWithin(const char* p, const char* end, int limit) {
    int depth = 0;
    while ((p = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(end - p)))) != nullptr) {
        const std::string_view rest(p, static_cast<size_t>(end - p));
        if (rest.starts_with("<?"))
            p = after(p + 2, end, "?>");
        else if (rest.starts_with("<!--"))
            p = after(p + 4, end, "-->");
        else if (rest.starts_with("<![CDATA["))
            p = after(p + 9, end, "]]>");
        else if (rest.starts_with("<!"))
            p = doctypeEnd(p + 2, end);
        else if (rest.starts_with("</")) {
            depth = depth > 0 ? depth - 1 : 0;
            p = tagEnd(p + 2, end);
        } else {
            const char* close = tagEnd(p + 1, end);
            if (close[-1] != '>' || close[-2] != '/') ++depth;
            if (depth > limit) return false;
            p = close;
        }
    }
    return true;
}

size_t contentStart(const std::string& text) {
    size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (at < text.size() && std::strchr(" \t\r\n\v\f", text[at]) != nullptr && text[at] != '\0') ++at;
    return at;
}

const Node* firstElement(const rapidxml::xml_document<char>& document) {
    for (const Node* node = document.first_node(); node != nullptr; node = node->next_sibling())
        if (node->type() == rapidxml::node_element) return node;
    return nullptr;
}
}  // namespace

double NdiPtzMetadata::clamp01(double value) {
    if (std::isnan(value) || value <= 0.0) return 0.0;
    return value >= 1.0 ? 1.0 : value;
}

double NdiPtzMetadata::clampPM(double value) {
    if (std::isnan(value)) return 0.0;  // garbage must not turn into a full-speed move
    if (value >= 1.0) return 1.0;
    return value <= -1.0 ? -1.0 : value;
}

bool NdiPtzMetadata::decode(std::string& text, Request& out, std::string& error) {
    out = {};
    const size_t start = contentStart(text);
    char* content = text.data() + start;
    const char* end = content + std::strlen(content);  // the parser stops at the first zero byte too
    if (!nestingWithin(content, end, kMaxDepth)) {
        error = "nested too deep";
        return false;
    }
    rapidxml::xml_document<char> document;
    try {
        document.parse<rapidxml::parse_validate_closing_tags>(content);
    } catch (const rapidxml::parse_error& e) {
        error = e.what();
        return false;
    }
    const Node* element = firstElement(document);
    const char* name = element != nullptr ? element->name() : "";
    for (const Element& e : kElements) {
        if (!sameWord(name, e.name)) continue;
        e.build(*element, out);
        break;
    }
    return true;
}
