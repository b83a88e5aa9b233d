// The two binaries as processes: options, version text, exit statuses, bring-up and the HTTP API.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/free_port.h"
#include "support/child_process.h"
#include "support/wait_for.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {
const std::string kUsage =
    " [-xX] [-F] [-pqf] [v] [t]\n"
    "  -X Disable Video capture\n"
    "  -x Disable Audio capture\n"
    "  -F Full resolution video capture only\n"
    "  -p Increase debugging output level\n"
    "  -q Decrease debugging output level\n"
    "  -f fflush() after each debug message\n"
    "  -v Version info\n"
    "  -t Pan-Tilt disable\n";

class ScratchRoot {
public:
    ScratchRoot() {
        std::string pattern = (fs::temp_directory_path() / "ptzcam-e2e.XXXXXX").string();
        path = mkdtemp(pattern.data());
        fs::create_directories(path + "/root");  // the home directory every camera has
    }
    ~ScratchRoot() { fs::remove_all(path); }
    void writeConfig(const std::string& text) const {
        fs::create_directories(path + "/root/server");
        std::ofstream(path + "/root/server/config.cfg") << text;
    }
    std::string config() const {
        std::ifstream in(path + "/root/server/config.cfg");
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::string path;
};

std::map<std::string, std::string> simEnv(const ScratchRoot& root) {
    return {{"PTZCAM_ROOT", root.path}, {"PTZSIM_HTTP", "0"}, {"PTZCAM_IFACE", "lo"}};
}
}  // namespace

TEST(Entry, VersionTextFollowsTheConfiguration) {
    const struct {
        const char* config;
        const char* expected;
    } cases[] = {
        {nullptr, "v2.4.6_90(M)"},  // a missing file is created with the defaults
        {"PtzLimitDegree=0\n", "v2.4.6_0(M)"},
        {"PtzLimitDegree=150\n", "v2.4.6_150"},
        {"PtzLimitDegree=150\nPAN_REVERSE=true\n", "v2.4.6_150-Reverse"},
        {"PtzLimitDegree=350\nTILT_REVERSE=true\r\n", "v2.4.6_350(M)-Reverse"},
        {"PtzLimitDegree=200\n", "v2.4.6_150(M)"},
        {"PtzLimitDegree = 90\n", "v2.4.6_90(M)"},  // not the key: the default line is appended
        {"PtzLimitDegree=90\nPAN_REVERSE=True\n", "v2.4.6_90(M)"},
    };
    for (const auto& c : cases) {
        ScratchRoot root;
        if (c.config) root.writeConfig(c.config);
        const auto r = runProcess(PTZCAM_BINARY, {"-v"}, {{"PTZCAM_ROOT", root.path}});
        EXPECT_EQ(r.status, 0) << (c.config ? c.config : "(none)");
        EXPECT_EQ(r.out, c.expected) << (c.config ? c.config : "(none)");
    }
}

TEST(Entry, MissingConfigurationIsCreatedWithTheDefaults) {
    ScratchRoot root;
    runProcess(PTZCAM_BINARY, {"-v"}, {{"PTZCAM_ROOT", root.path}});
    EXPECT_EQ(root.config(),
              "PtzLimitDegree=90\nLimitChkEnable=true\nPTZ_QC_ENABLE=false\nPtzMaxSpeedUp=1.0\n"
              "PAN_REVERSE=false\nTILT_REVERSE=false\n");
    EXPECT_EQ(fs::status(root.path + "/root/server").permissions() & fs::perms::all, fs::perms(0755));
}

TEST(Entry, OptionsAreAppliedInOrderAndUnknownOnesGiveTheUsage) {
    ScratchRoot root;
    const auto unknown = runProcess(PTZCAM_BINARY, {"-pz"}, {{"PTZCAM_ROOT", root.path}});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, std::string("Usage: ") + PTZCAM_BINARY + kUsage);
    EXPECT_EQ(unknown.out, "");

    const auto versionFirst = runProcess(PTZCAM_BINARY, {"-v", "-z"}, {{"PTZCAM_ROOT", root.path}});
    EXPECT_EQ(versionFirst.status, 0);
    EXPECT_EQ(versionFirst.out, "v2.4.6_90(M)");

    const auto usageFirst = runProcess(PTZCAM_BINARY, {"-Xz", "-v"}, {{"PTZCAM_ROOT", root.path}});
    EXPECT_EQ(usageFirst.status, 1);
    EXPECT_EQ(usageFirst.out, "");
}

TEST(Entry, CameraBinaryWithoutFpgaNamesTheMissingDevice) {
    ScratchRoot root;
    const auto r = runProcess(PTZCAM_BINARY, {}, {{"PTZCAM_ROOT", root.path}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Cannot find uio device ndi_regs!\n");
}

TEST(Entry, VirtualCameraShowsThePlatformLinesAndStopsOnExit) {
    ScratchRoot root;
    const auto r = runProcess(PTZCAM_SIM_BINARY, {"-p", "-p"}, simEnv(root), "hello\nexit\nnever read\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Platform: Mendal NDI Product\nVersion : 3.1.0\nDate    : 20261206\n"), std::string::npos)
        << r.err;

    const auto quiet = runProcess(PTZCAM_SIM_BINARY, {"-p", "-q", "-q", "-q", "-p", "-p"}, simEnv(root), "exit\n");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err.find("Platform:"), std::string::npos) << "-q stops at 0, so level 2 is not 4";
}

namespace {
// CPU time (clock ticks) the process's main thread has used.
long mainThreadTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}
}  // namespace

// As under a service manager: no terminal, standard input at its end from the start.
TEST(Entry, VirtualCameraAtEndOfInputRunsIdleUntilSigterm) {
    ScratchRoot root;
    ChildProcess sim(PTZCAM_SIM_BINARY, {"-X", "-x"}, simEnv(root));
    sim.closeInput();
    ASSERT_TRUE(waitFor([&] { return fs::exists(root.path + "/root/server/config.cfg"); }, 20s, 10ms));
    // Three quiet seconds in a row: longer than any pause of the start-up, which a sanitizer
    // build may take long to finish; a main thread spinning at end of input never gives them.
    int quietSeconds = 0;
    const bool idle = waitFor(
        [&] {
            const long before = mainThreadTicks(sim.processId());
            std::this_thread::sleep_for(1s);
            quietSeconds = mainThreadTicks(sim.processId()) - before <= 5 ? quietSeconds + 1 : 0;
            return quietSeconds == 3;
        },
        40s, 0ms);
    EXPECT_TRUE(idle) << "the main thread spins at end of input";
    ASSERT_EQ(kill(sim.processId(), 0), 0) << "the camera quit at end of input";

    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(kill(sim.processId(), SIGTERM), 0);
    const auto r = sim.wait(10s);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 3s);
    EXPECT_EQ(r.status, SIGTERM) << r.err;
    EXPECT_TRUE(r.out.ends_with("\nSIGTERM\n")) << r.out;
}

TEST(Entry, HardwareWithoutEitherDeviceSetIsNotReady) {
    ScratchRoot root;
    auto env = simEnv(root);
    env["PTZSIM_UIO_ABSENT"] = "ndi_enc,ndi_dec";
    const auto r = runProcess(PTZCAM_SIM_BINARY, {}, env, "exit\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Could not initialize hardware\n"), std::string::npos) << r.err;

    env["PTZSIM_UIO_ABSENT"] = "pvw_in";
    const auto failed = runProcess(PTZCAM_SIM_BINARY, {}, env, "exit\n");
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "Cannot find uio device pvw_in!\n");
}

TEST(Entry, VirtualCameraMakesAndRemovesItsOwnRoot) {
    const auto r = runProcess(PTZCAM_SIM_BINARY, {}, {{"PTZCAM_ROOT", ""}, {"PTZSIM_HTTP", "0"}}, "exit\n");
    EXPECT_EQ(r.status, 0);
    const std::string marker = "ptzcam-sim: device root ";
    const auto at = r.err.find(marker);
    ASSERT_NE(at, std::string::npos) << r.err;
    const std::string path = r.err.substr(at + marker.size(), r.err.find('\n', at) - at - marker.size());
    EXPECT_FALSE(fs::exists(path)) << path;
    EXPECT_NE(r.err.find("ptzcam-sim: serving VISCA on interface "), std::string::npos) << "PTZCAM_IFACE unset";
}

TEST(Entry, VirtualCameraServesItsStateAsJson) {
    ScratchRoot root;
    const int port = freePort();
    ChildProcess sim(PTZCAM_SIM_BINARY, {}, {{"PTZCAM_ROOT", root.path}, {"PTZSIM_HTTP", std::to_string(port)}});
    std::string body;
    for (int attempt = 0; attempt < 100 && body.empty(); ++attempt) {
        std::this_thread::sleep_for(50ms);
        body = httpGet(port, "/state");
    }
    sim.write("exit\n");
    const auto r = sim.wait();
    EXPECT_EQ(r.status, 0);
    ASSERT_FALSE(body.empty()) << r.err;
    const auto state = nlohmann::json::parse(body);
    EXPECT_EQ(state["fpga"]["platform_id"], 128);
    // The hardware wrote nothing yet, but the key is a count.
    EXPECT_TRUE(state["fpga"]["registers_written"].is_number_unsigned());
    EXPECT_EQ(state["fpga"]["interrupts"].size(), 8u);
    EXPECT_EQ(state["fpga"]["interrupts"]["ndi_dec"]["line"], 5);
}
