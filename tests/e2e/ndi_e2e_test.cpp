// The virtual camera's NDI source and audio seen from outside: its /state keys, the routes that
// play the receivers, and the audio created in its place by the entry and stopped before the sender.
#include <gtest/gtest.h>

#include <cstdlib>
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

long long xactual(const json& s, const char* axis) { return s[axis]["xactual"].get<long long>(); }
size_t at(const std::string& text, const char* what) { return text.find(what); }
}  // namespace

TEST(NdiE2e, VirtualCameraAnnouncesPtzAndTakesReceiverMetadataAndTally) {
    ScratchRoot root;
    SimProcess sim({"-X", "-x"}, {{"PTZCAM_ROOT", root.path}, {"PTZCAM_IFACE", "lo"}});
    json s = sim.await([](json& j) { return j.contains("ndi") && j["ndi"]["sender_live"] == true; });
    EXPECT_EQ(s["fpga"]["platform_id"], 128);
    EXPECT_TRUE(s["fpga"]["registers_written"].is_number_unsigned());
    EXPECT_EQ(s["fpga"]["interrupts"].size(), 8u);
    EXPECT_EQ(s["fpga"]["interrupts"]["ndi_dec"]["line"], 5);
    EXPECT_EQ(s["ndi"]["sender"], "PTZ");
    EXPECT_EQ(s["ndi"]["connection_metadata"],
              json::array({"<ndi_capabilities ntk_ptz=\"true\" web_control=\"http://127.0.0.1\"/>"}));
    for (const char* key : {"video_frames", "quality"}) {
        EXPECT_TRUE(s["ndi"][key]["full"].is_number()) << key;
        EXPECT_TRUE(s["ndi"][key]["preview"].is_number()) << key;
    }
    EXPECT_TRUE(s["ndi"]["audio_frames"].is_number());

    EXPECT_EQ(sim.post("/ndi/tally?program=1&preview=0"), 200);
    for (const char* bad : {"/ndi/tally?program=1", "/ndi/tally?program=yes&preview=0", "/ndi/metadata"})
        EXPECT_EQ(sim.post(bad), 400) << bad;
    EXPECT_EQ(sim.post("/ndi/metadata", "<ntk_ptz_pan_tilt_speed pan_speed=\"1\" tilt_speed=\"0\"/>"), 200);

    // The camera takes the frame, frees it and keeps its record.
    s = sim.await([](json& j) { return j["ndi"]["metadata_frames"] == 1; }, 5s);
    EXPECT_EQ(s["ndi"]["tally"]["program"], true);
    EXPECT_EQ(s["ndi"]["tally"]["preview"], false);
    EXPECT_EQ(s["ndi"]["metadata"]["waiting"], 0);
    EXPECT_EQ(s["ndi"]["metadata"]["outstanding"], 0);
    EXPECT_EQ(s["ptz"]["last_ndi_command"], json({{"code", 0x100}, {"arg1_milli", 1000}, {"arg2_milli", 0}}));
}

TEST(NdiE2e, ReceiverPtzControlPansTiltsZoomsRecallsPresetsAndTallyLightsTheLamp) {
    ScratchRoot root;
    SimProcess sim({"-X", "-x"}, {{"PTZCAM_ROOT", root.path}, {"PTZCAM_IFACE", "lo"}, {"PTZSIM_SPEED", "20"}});
    auto send = [&](const std::string& xml) { ASSERT_EQ(sim.post("/ndi/metadata", xml), 200) << xml; };
    sim.await([](json& s) { return s.contains("ptz") && s["ptz"]["limit_state"] == 1 && s["ptz"]["zoom_ready"] == 1; },
              60s);

    for (const auto& [tally, lamp] : {std::pair{"/ndi/tally?program=0&preview=1", 1}, {"/ndi/tally?program=0&preview=0", 2}}) {
        ASSERT_EQ(sim.post(tally), 200);
        sim.await([lamp = lamp](json& s) { return s["fpga"]["lamp"] == lamp; });
    }

    // Pan, then tilt, each at a speed and stopped again; the other axis stays still.
    json s = sim.await([](json&) { return true; });
    const long long pan0 = xactual(s, "pan"), tilt0 = xactual(s, "tilt");
    send(R"(<ntk_ptz_pan_tilt_speed pan_speed="0.6" tilt_speed="0"/>)");
    sim.await([&](json& j) { return std::llabs(xactual(j, "pan") - pan0) > 20000; });
    send(R"(<ntk_ptz_pan_tilt_speed pan_speed="0" tilt_speed="0"/>)");
    s = sim.await([](json& j) { return j["pan"]["vactual"] == 0; });
    EXPECT_EQ(xactual(s, "tilt"), tilt0);
    const long long pan1 = xactual(s, "pan");
    send(R"(<ntk_ptz_pan_tilt_speed tilt_speed="-0.5"/>)");
    sim.await([&](json& j) { return std::llabs(xactual(j, "tilt") - tilt0) > 20000; });
    send(R"(<NTK_PTZ_PAN_TILT_SPEED/>)");
    s = sim.await([](json& j) { return j["tilt"]["vactual"] == 0; });
    EXPECT_EQ(xactual(s, "pan"), pan1);
    EXPECT_EQ(s["ptz"]["last_ndi_command"]["code"], 0x102);

    // Zoom to both ends of the calibrated range.
    for (const auto& [zoom, end] : {std::pair{"1", "zoom_max"}, {"0", "zoom_min"}}) {
        send(std::string("<ntk_ptz_zoom zoom=\"") + zoom + "\"/>");
        sim.await([end = end](json& j) {
            return j["zoom"]["moving"] == 0 && std::llabs(j["zoom"]["position"].get<long long>() - j["ptz"][end].get<long long>()) < 40;
        }, 20s);
    }

    // A preset stored here comes back after the head was moved away.
    send(R"(<ntk_ptz_store_preset index="2"/>)");
    s = sim.await([](json& j) { return j["ptz"]["last_ndi_command"]["code"] == 0x600; });
    const long long storedPan = xactual(s, "pan"), storedTilt = xactual(s, "tilt");
    send(R"(<ntk_ptz_pan_tilt_speed pan_speed="-0.6" tilt_speed="0.4"/>)");
    sim.await([&](json& j) { return std::llabs(xactual(j, "pan") - storedPan) > 40000; });
    send(R"(<ntk_ptz_pan_tilt_speed/>)");
    sim.await([](json& j) { return j["pan"]["vactual"] == 0 && j["tilt"]["vactual"] == 0; });
    send(R"(<ntk_ptz_recall_preset index="2"/>)");
    sim.await([&](json& j) {
        return j["pan"]["vactual"] == 0 && std::llabs(xactual(j, "pan") - storedPan) < 512 &&
               std::llabs(xactual(j, "tilt") - storedTilt) < 512;
    }, 20s);
}

TEST(AudioE2e, EntrySendsTheInputAtItsRateAndStopsAudioBeforeTheSender) {
    SimProcess sim({"-X", "-p", "-p"}, {{"PTZCAM_ROOT", ""}, {"PTZSIM_AUDIO_RATE", "44100"}});
    json s = sim.await([](json& j) { return j["ndi"]["audio_frames"].get<uint64_t>() >= 5 && j["audio"].value("rate", 0) == 44100; });
    EXPECT_EQ(s["ndi"]["audio"]["sample_rate"], 44100);
    EXPECT_EQ(s["audio"]["drops"], 0);

    EXPECT_EQ(sim.post("/audio", "96000\n"), 200);
    EXPECT_EQ(sim.post("/audio", "22050"), 400);
    s = sim.await([](json& j) { return j["ndi"]["audio"]["sample_rate"] == 96000; });  // the frames carry the new rate
    EXPECT_EQ(s["audio"]["input_rate"], 96000);

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
    EXPECT_EQ(s["ndi"]["audio_frames"], 0);
    EXPECT_EQ(s["audio"]["buffers"], 0) << "nobody gave the block a buffer";
    EXPECT_FALSE(s["audio"].contains("rate"));
    EXPECT_EQ(at(sim.exit().err, "audio_capture Constructor"), std::string::npos);
}
