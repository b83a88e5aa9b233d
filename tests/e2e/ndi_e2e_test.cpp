// The virtual camera's NDI source and audio seen from outside. Audio rate changes run the same
// paths in the audio pipeline scenario.
#include <gtest/gtest.h>

#include <thread>

#include "support/camera_state.h"
#include "support/free_port.h"
#include "support/http_post.h"

using namespace std::chrono_literals;
using nlohmann::json;

namespace {
// The virtual camera with its HTTP API on a port of its own, drawn before the process starts.
class SimProcess {
public:
    SimProcess(const std::vector<std::string>& args, std::map<std::string, std::string> env)
        : process(PTZCAM_SIM_BINARY, args, (env["PTZSIM_HTTP"] = std::to_string(port), env)) {}
    ~SimProcess() { if (!exited) exit(); }
    // Waits for `holds`, a failure when it never came; the last document read.
    json await(const std::function<bool(json&)>& holds, std::chrono::milliseconds limit = 10s) const {
        json s;
        EXPECT_TRUE(waitState(port, holds, limit, "", &s)) << "state never matched: " << s.dump();
        return s;
    }
    int post(const std::string& path, const std::string& body = "") const { return httpPost(port, path, body).status; }
    ProcessResult exit() {
        exited = true;
        process.write("exit\n");
        const ProcessResult r = process.wait();
        EXPECT_EQ(r.status, 0) << r.err;
        return r;
    }
    const int port = freePort();

private:
    ChildProcess process;
    bool exited = false;
};

size_t at(const std::string& text, const char* what) { return text.find(what); }
}  // namespace

// One run: the announcement, a receiver's tally and PTZ control, the audio at the input's rate,
// and the entry's order: audio created after the sender and stopped before it.
TEST(NdiE2e, AnnouncesPtzTakesReceiverMetadataAndTallySendsAudioAndStopsItBeforeTheSender) {
    SimProcess sim({"-X", "-p", "-p"}, {{"PTZCAM_ROOT", ""}, {"PTZCAM_IFACE", "lo"}, {"PTZSIM_AUDIO_RATE", "44100"}, {"PTZSIM_SPEED", "50"}});
    json s = sim.await([](json& j) { return j.contains("ptz") && j["ptz"]["limit_state"] == 1 && j["ptz"]["zoom_ready"] == 1; }, 90s);
    EXPECT_EQ(s["ndi"]["sender"], "PTZ");
    EXPECT_EQ(s["ndi"]["connection_metadata"],
              json::array({"<ndi_capabilities ntk_ptz=\"true\" web_control=\"http://127.0.0.1\"/>"}));

    EXPECT_EQ(sim.post("/ndi/tally?program=1&preview=0"), 200);
    for (const char* bad : {"/ndi/tally?program=1", "/ndi/tally?program=yes&preview=0", "/ndi/metadata"})
        EXPECT_EQ(sim.post(bad), 400) << bad;
    sim.await([](json& j) { return j["fpga"]["lamp"] == 1; }, 3s);
    // Store where the head stands, pan away, zoom to the end, and recall.
    const int pan = s["pan"]["xactual"], zoom = s["zoom"]["position"];
    for (const char* frame : {"<ntk_ptz_store_preset index=\"2\"/>", "<ntk_ptz_pan_tilt_speed pan_speed=\"1\" tilt_speed=\"0\"/>"})
        EXPECT_EQ(sim.post("/ndi/metadata", frame), 200);
    s = sim.await([&](json& j) { return j["ndi"]["metadata_frames"] == 2 && std::abs(j["pan"]["xactual"].get<int>() - pan) > 20000; }, 5s);
    EXPECT_EQ(s["ptz"]["last_ndi_command"], json({{"code", 0x100}, {"arg1_milli", 1000}, {"arg2_milli", 0}}));
    for (const char* frame : {"<ntk_ptz_pan_tilt_speed/>", "<ntk_ptz_zoom zoom=\"1\"/>"})
        EXPECT_EQ(sim.post("/ndi/metadata", frame), 200);
    sim.await([](json& j) { return j["zoom"]["moving"] == 0 && std::abs(j["zoom"]["position"].get<int>() - j["ptz"]["zoom_max"].get<int>()) < 40; }, 30s);
    EXPECT_EQ(sim.post("/ndi/metadata", "<ntk_ptz_recall_preset index=\"2\"/>"), 200);
    s = sim.await([&](json& j) { return j["pan"]["vactual"] == 0 && std::abs(j["pan"]["xactual"].get<int>() - pan) < 512
                                        && j["zoom"]["position"] == zoom; }, 30s);
    EXPECT_EQ(s["ndi"]["metadata"]["outstanding"], 0);

    s = sim.await([](json& j) { return j["ndi"]["audio_frames"].get<uint64_t>() >= 5 && j["audio"].value("rate", 0) == 44100; });
    EXPECT_EQ(s["ndi"]["audio"]["sample_rate"], 44100);
    EXPECT_EQ(s["audio"]["drops"], 0);
    const auto t0 = std::chrono::steady_clock::now();
    const std::string log = sim.exit().err;
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
    ASSERT_NE(at(log, "audio_capture Constructor\n"), std::string::npos) << log;
    EXPECT_LT(at(log, "network_send Constructor\n"), at(log, "audio_capture Constructor\n"));
    EXPECT_LT(at(log, "audio_capture Destructor\n"), at(log, "audio_compress Destructor\n"));
    EXPECT_LT(at(log, "audio_compress Destructor\n"), at(log, "network_send Destructor\n"));
}

TEST(AudioE2e, OptionXLeavesAudioOut) {
    SimProcess sim({"-X", "-x", "-p", "-p"}, {{"PTZCAM_ROOT", ""}});
    sim.await([](json& j) { return j["ndi"]["sender_live"] == true; });
    std::this_thread::sleep_for(200ms);  // a dozen buffers' time at 48 kHz
    const json s = sim.await([](json&) { return true; });
    EXPECT_EQ(s["audio"]["buffers"], 0) << "nobody gave the block a buffer";
    EXPECT_EQ(at(sim.exit().err, "audio_capture Constructor"), std::string::npos);
}
