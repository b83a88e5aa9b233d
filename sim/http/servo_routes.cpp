#include "sim/http/servo_routes.h"

#include <string>

namespace sim {

void addServoRoutes(StateApi& api, ServoLine* line) {
    api.addPost("/servo", [line](const StateApi::Params&, const std::string& body, std::string& reply) {
        if (line == nullptr) {
            reply = "no zoom servo fitted\n";
            return 404;
        }
        const std::string word = body.substr(0, body.find_last_not_of(" \t\r\n") + 1);
        if (word != "silent" && word != "answer") {
            reply = "body must be silent or answer\n";
            return 400;
        }
        line->setSilent(word == "silent");
        reply = word + "\n";
        return 200;
    });
}

}  // namespace sim
