#include "sim/http/input_routes.h"

#include <string>

#include "sim/http/body_text.h"
#include "sim/media/input_format.h"

namespace sim {

void addInputRoutes(StateApi& api, VideoInput& source) {
    api.addPost("/input", [&source](const StateApi::Params&, const std::string& body, std::string& reply) {
        const auto format = InputFormat::parse(trimmedBody(body));
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
