// The virtual camera's NDI source seen from outside: its /state keys and the routes that
// play the receivers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/free_port.h"
#include "support/child_process.h"
#include "support/http_post.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {
class Scratch {
public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "ptzcam-ndi-e2e.XXXXXX").string();
        path = mkdtemp(pattern.data());
        fs::create_directories(path + "/root");
    }
    ~Scratch() { fs::remove_all(path); }
    std::string path;
};

nlohmann::json state(int port) {
    const auto body = httpGet(port, "/state");
    return body.empty() ? nlohmann::json() : nlohmann::json::parse(body);
}
}  // namespace

TEST(NdiE2e, VirtualCameraAnnouncesPtzAndTakesReceiverMetadataAndTally) {
    Scratch root;
    const int port = freePort();
    ChildProcess sim(PTZCAM_SIM_BINARY, {"-X", "-x"},
                     {{"PTZCAM_ROOT", root.path}, {"PTZSIM_HTTP", std::to_string(port)}, {"PTZCAM_IFACE", "lo"}});
    nlohmann::json s;
    for (int attempt = 0; attempt < 200; ++attempt) {
        s = state(port);
        if (s.contains("ndi") && s["ndi"]["sender_live"] == true) break;
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(s.contains("ndi")) << s.dump();
    EXPECT_EQ(s["ndi"]["sender"], "PTZ");
    EXPECT_EQ(s["ndi"]["connection_metadata"],
              nlohmann::json::array({"<ndi_capabilities ntk_ptz=\"true\" web_control=\"http://127.0.0.1\"/>"}));
    for (const char* key : {"video_frames", "quality"}) {
        EXPECT_TRUE(s["ndi"][key]["full"].is_number()) << key;
        EXPECT_TRUE(s["ndi"][key]["preview"].is_number()) << key;
    }
    EXPECT_TRUE(s["ndi"]["audio_frames"].is_number());

    const auto tally = httpPost(port, "/ndi/tally?program=1&preview=0", "");
    EXPECT_EQ(tally.status, 200) << tally.body;
    for (const char* bad : {"/ndi/tally?program=1", "/ndi/tally?program=yes&preview=0"})
        EXPECT_EQ(httpPost(port, bad, "").status, 400) << bad;
    EXPECT_EQ(httpPost(port, "/ndi/metadata", "").status, 400);
    const auto metadata = httpPost(port, "/ndi/metadata", "<ntk_ptz_pan_tilt_speed pan_speed=\"1\" tilt_speed=\"0\"/>");
    EXPECT_EQ(metadata.status, 200) << metadata.body;

    // The camera takes the frame, frees it and keeps its record.
    for (int attempt = 0; attempt < 100; ++attempt) {
        s = state(port);
        if (s["ndi"]["metadata_frames"] == 1) break;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(s["ndi"]["tally"]["program"], true);
    EXPECT_EQ(s["ndi"]["tally"]["preview"], false);
    EXPECT_EQ(s["ndi"]["metadata_frames"], 1);
    EXPECT_EQ(s["ndi"]["metadata"]["waiting"], 0);
    EXPECT_EQ(s["ndi"]["metadata"]["outstanding"], 0);
    EXPECT_EQ(s["ptz"]["last_ndi_command"], nlohmann::json({{"code", 0x100}, {"arg1_milli", 1000}, {"arg2_milli", 0}}));

    sim.write("exit\n");
    const auto r = sim.wait();
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(NdiE2e, VirtualCameraWithoutNdiRuntimeStopsWithTheMessage) {
    Scratch root;
    const auto r = runProcess(
        PTZCAM_SIM_BINARY, {},
        {{"PTZCAM_ROOT", root.path}, {"PTZSIM_HTTP", "0"}, {"PTZSIM_NDI", "0"}, {"PTZCAM_IFACE", "lo"}}, "exit\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Cannot run NDI!\n");
}

namespace {
// Waits up to `limit` for the state document to satisfy `holds`; the last document read.
nlohmann::json awaitState(int port, const std::function<bool(const nlohmann::json&)>& holds,
                          std::chrono::milliseconds limit = 10s) {
    nlohmann::json s;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        s = state(port);
        if (!s.is_null() && holds(s)) return s;
        std::this_thread::sleep_for(50ms);
    }
    ADD_FAILURE() << "state never matched: " << s.dump();
    return s;
}

long long xactual(const nlohmann::json& s, const char* axis) { return s[axis]["xactual"].get<long long>(); }
}  // namespace

TEST(NdiE2e, ReceiverPtzControlPansTiltsZoomsRecallsPresetsAndTallyLightsTheLamp) {
    Scratch root;
    const int port = freePort();
    ChildProcess sim(PTZCAM_SIM_BINARY, {"-X", "-x"},
                     {{"PTZCAM_ROOT", root.path}, {"PTZSIM_HTTP", std::to_string(port)}, {"PTZCAM_IFACE", "lo"},
                      {"PTZSIM_SPEED", "20"}});
    auto send = [&](const std::string& xml) { ASSERT_EQ(httpPost(port, "/ndi/metadata", xml).status, 200) << xml; };
    awaitState(port, [](const auto& s) {
        return s.contains("ptz") && s["ptz"]["limit_state"] == 1 && s["ptz"]["zoom_ready"] == 1;
    }, 60s);

    ASSERT_EQ(httpPost(port, "/ndi/tally?program=0&preview=1", "").status, 200);
    awaitState(port, [](const auto& s) { return s["fpga"]["lamp"] == 1; });
    ASSERT_EQ(httpPost(port, "/ndi/tally?program=0&preview=0", "").status, 200);
    awaitState(port, [](const auto& s) { return s["fpga"]["lamp"] == 2; });

    // Pan, then tilt, each at a speed and stopped again; the other axis stays still.
    auto s = state(port);
    const long long pan0 = xactual(s, "pan"), tilt0 = xactual(s, "tilt");
    send(R"(<ntk_ptz_pan_tilt_speed pan_speed="0.6" tilt_speed="0"/>)");
    s = awaitState(port, [&](const auto& s) { return std::llabs(xactual(s, "pan") - pan0) > 20000; });
    send(R"(<ntk_ptz_pan_tilt_speed pan_speed="0" tilt_speed="0"/>)");
    s = awaitState(port, [](const auto& s) { return s["pan"]["vactual"] == 0; });
    EXPECT_EQ(xactual(s, "tilt"), tilt0);
    const long long pan1 = xactual(s, "pan");
    send(R"(<ntk_ptz_pan_tilt_speed tilt_speed="-0.5"/>)");
    s = awaitState(port, [&](const auto& s) { return std::llabs(xactual(s, "tilt") - tilt0) > 20000; });
    send(R"(<NTK_PTZ_PAN_TILT_SPEED/>)");
    s = awaitState(port, [](const auto& s) { return s["tilt"]["vactual"] == 0; });
    EXPECT_EQ(xactual(s, "pan"), pan1);
    EXPECT_EQ(s["ptz"]["last_ndi_command"]["code"], 0x102);

    // Zoom to both ends of the calibrated range.
    for (const char* zoom : {"1", "0"}) {
        send(std::string("<ntk_ptz_zoom zoom=\"") + zoom + "\"/>");
        awaitState(port, [&](const auto& s) {
            const long long end = s["ptz"][zoom[0] == '1' ? "zoom_max" : "zoom_min"];
            return s["zoom"]["moving"] == 0 && std::llabs(s["zoom"]["position"].template get<long long>() - end) < 40;
        }, 20s);
    }

    // A preset stored here comes back after the head was moved away.
    send(R"(<ntk_ptz_store_preset index="2"/>)");
    s = awaitState(port, [](const auto& s) { return s["ptz"]["last_ndi_command"]["code"] == 0x600; });
    const long long storedPan = xactual(s, "pan"), storedTilt = xactual(s, "tilt");
    send(R"(<ntk_ptz_pan_tilt_speed pan_speed="-0.6" tilt_speed="0.4"/>)");
    awaitState(port, [&](const auto& s) { return std::llabs(xactual(s, "pan") - storedPan) > 40000; });
    send(R"(<ntk_ptz_pan_tilt_speed/>)");
    awaitState(port, [](const auto& s) { return s["pan"]["vactual"] == 0 && s["tilt"]["vactual"] == 0; });
    send(R"(<ntk_ptz_recall_preset index="2"/>)");
    awaitState(port, [&](const auto& s) {
        return s["pan"]["vactual"] == 0 && std::llabs(xactual(s, "pan") - storedPan) < 512 &&
               std::llabs(xactual(s, "tilt") - storedTilt) < 512;
    }, 20s);

    sim.write("exit\n");
    const auto r = sim.wait();
    EXPECT_EQ(r.status, 0) << r.err;
}
