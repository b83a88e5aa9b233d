// Routes through which a local observer plays the NDI receivers.
#include "sim/http/ndi_routes.h"

namespace sim {

namespace {
// "0" or "1"; anything else (or absent) is refused.
bool flag(const StateApi::Params& params, const char* name, bool& value) {
    const auto found = params.find(name);
    if (found == params.end() || (found->second != "0" && found->second != "1")) return false;
    value = found->second == "1";
    return true;
}
}  // namespace

void addNdiRoutes(StateApi& api, std::shared_ptr<NdiStandIn> ndi) {
    api.addReporter([ndi](nlohmann::json& state) { ndi->report(state); });
    api.addPost("/ndi/metadata", [ndi](const StateApi::Params&, const std::string& body, std::string& reply) {
        if (body.empty()) {
            reply = "empty metadata\n";
            return 400;
        }
        if (!ndi->injectMetadata(body)) {
            reply = "no NDI sender\n";
            return 503;
        }
        reply = "queued\n";
        return 200;
    });
    api.addPost("/ndi/tally", [ndi](const StateApi::Params& params, const std::string&, std::string& reply) {
        bool program = false, preview = false;
        if (!flag(params, "program", program) || !flag(params, "preview", preview)) {
            reply = "program and preview must be 0 or 1\n";
            return 400;
        }
        ndi->setTally(program, preview);
        reply = "ok\n";
        return 200;
    });
}

}  // namespace sim
