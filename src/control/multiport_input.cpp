#include "control/multiport_input.h"

#include <cstdio>
#include <string_view>

#include "base/log.h"
#include "motion/multi_port.h"

namespace {
bool startsWith(std::span<const uint8_t> bytes, std::string_view text) {
    if (bytes.size() < text.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (bytes[i] != static_cast<uint8_t>(text[i])) return false;
    return true;
}

// "$7" k d "00*": a status frame with key character k and digit d.
bool statusFrame(std::span<const uint8_t> bytes, char key) {
    return bytes.size() >= 7 && startsWith(bytes, "$7") && bytes[2] == static_cast<uint8_t>(key) &&
           startsWith(bytes.subspan(4), "00*");
}

void zoomStatus(char key, uint8_t d) {
    const char* drive = key == '4' ? "MultiPort:: Zoom Tele %d\n" : "MultiPort:: Zoom Wide %d\n";
    if (d >= '1' && d <= '8') logAt(5, drive, d - '0');
    else if (key == '5' && d >= '9') logAt(5, "MultiPort:: Zoom Stop\n");
}
}  // namespace

void MultiPortInput::serve() {
    if (adapter.descriptor() < 0) return;
    const int count = adapter.readOnce(buffer.data(), static_cast<int>(buffer.size()));
    if (count < 0) {
        logAt(2, "MultiPort:: adapter lost\n");
        adapter.close();
        return;
    }
    handle(std::span(buffer.data(), static_cast<size_t>(count)));
}

void MultiPortInput::handle(std::span<const uint8_t> bytes) {
    if (startsWith(bytes, "%000*")) {
        std::puts("MultiPort:: Detect");
    } else if (bytes.size() >= 4 && startsWith(bytes, "%7")) {
        logAt(5, "MultiPort:: Reply\n");
        const uint8_t reply[7] = {'&', '7', bytes[2], bytes[3], '0', '0', '*'};
        adapter.sendRaw(reply);
    } else if (startsWith(bytes, "$71000*")) {
        logAt(5, "MultiPort:: Start/Stop Recording\n");
    } else if (startsWith(bytes, "$71100*")) {
        logAt(5, "MultiPort:: Finish Start/Stop Recording\n");
    } else if (statusFrame(bytes, '4') || statusFrame(bytes, '5')) {
        zoomStatus(static_cast<char>(bytes[2]), bytes[3]);
    }
}
