#include "sim/http/hdmi_routes.h"

#include <string>

#include "sim/http/body_text.h"

namespace sim {

void addHdmiRoutes(StateApi& api, HdmiReceiver& receiver) {
    api.addPost("/hdmi", [&receiver](const StateApi::Params&, const std::string& body, std::string& reply) {
        const std::string word = trimmedBody(body);
        if (word != "fail" && word != "answer") {
            reply = "body must be fail or answer\n";
            return 400;
        }
        receiver.failTransfers(word == "fail" ? -1 : 0);
        reply = word + "\n";
        return 200;
    });
}

}  // namespace sim
