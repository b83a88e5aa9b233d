#include "sim/http/input_routes.h"

#include <string>

#include "sim/media/input_format.h"

namespace sim {

namespace {
std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}
}  // namespace

void addInputRoutes(StateApi& api, VideoInput& source) {
    api.addPost("/input", [&source](const StateApi::Params&, const std::string& body, std::string& reply) {
        const auto format = InputFormat::parse(trimmed(body));
        if (!format) {
            reply = "unknown input format\n";
            return 400;
        }
        source.set(*format);
        reply = format->name + "\n";
        return 200;
    });
}

}  // namespace sim
