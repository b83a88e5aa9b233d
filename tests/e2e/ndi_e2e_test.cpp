// The virtual camera's NDI source seen from outside: its /state keys and the routes that
// play the receivers.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include <nlohmann/json.hpp>

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
    const int port = freeLoopbackPort();
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
