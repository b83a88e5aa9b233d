// The two binaries as processes: options, version text, exit statuses, signals, bring-up and the HTTP API.
#include <gtest/gtest.h>

#include <signal.h>

#include <sstream>
#include <thread>

#include "support/camera_state.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {
std::map<std::string, std::string> simEnv(const ScratchRoot& root) {
    return {{"PTZCAM_ROOT", root.path}, {"PTZSIM_HTTP", "0"}, {"PTZCAM_IFACE", "lo"}};
}

ProcessResult version(const ScratchRoot& root, const std::vector<std::string>& args = {"-v"}) {
    return runProcess(PTZCAM_BINARY, args, {{"PTZCAM_ROOT", root.path}});
}

// CPU time (clock ticks) the process's main thread has used: utime and stime, fields 14 and 15.
long mainThreadTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {}), field;
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14) ticks += std::stol(field);
    return ticks;
}
}  // namespace

TEST(Entry, VersionTextFollowsTheConfiguration) {
    for (const auto& [config, expected] : std::initializer_list<std::pair<const char*, const char*>>{
             {nullptr, "v2.4.6_90(M)"},  // a missing file is created with the defaults
             {"PtzLimitDegree=0\n", "v2.4.6_0(M)"},
             {"", "v2.4.6_150"},  // unreadable (here a folder): the head's own 150
             {"PtzLimitDegree=150\nPAN_REVERSE=true\n", "v2.4.6_150-Reverse"},
             {"PtzLimitDegree=350\nTILT_REVERSE=true\r\n", "v2.4.6_350(M)-Reverse"},
             {"PtzLimitDegree=90\nPAN_REVERSE=True\n", "v2.4.6_90(M)"}}) {
        SCOPED_TRACE(config ? config : "(none)");
        ScratchRoot root;
        if (config) {
            fs::create_directories(root.path + "/root/server" + (*config ? "" : "/config.cfg"));
            if (*config) std::ofstream(root.path + "/root/server/config.cfg") << config;
        }
        const auto r = version(root);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, expected);
        if (config) continue;
        EXPECT_EQ(root.config(), "PtzLimitDegree=90\nLimitChkEnable=true\nPTZ_QC_ENABLE=false\nPtzMaxSpeedUp=1.0\n"
                                 "PAN_REVERSE=false\nTILT_REVERSE=false\n");
        EXPECT_EQ(fs::status(root.path + "/root/server").permissions() & fs::perms::all, fs::perms(0755));
    }
}

TEST(Entry, OptionsAreAppliedInOrderAndUnknownOnesGiveTheUsage) {
    ScratchRoot root;
    const auto unknown = version(root, {"-pz"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, std::string("Usage: ") + PTZCAM_BINARY +
                               " [-xX] [-F] [-pqf] [v] [t]\n"
                               "  -X Disable Video capture\n"
                               "  -x Disable Audio capture\n"
                               "  -F Full resolution video capture only\n"
                               "  -p Increase debugging output level\n"
                               "  -q Decrease debugging output level\n"
                               "  -f fflush() after each debug message\n"
                               "  -v Version info\n"
                               "  -t Pan-Tilt disable\n");
    EXPECT_EQ(unknown.out, "");
    const auto versionFirst = version(root, {"-v", "-z"});
    EXPECT_EQ(versionFirst.status, 0);
    EXPECT_EQ(versionFirst.out, "v2.4.6_90(M)");
    const auto usageFirst = version(root, {"-Xz", "-v"});
    EXPECT_EQ(usageFirst.status, 1);
    EXPECT_EQ(usageFirst.out, "");
}

// A device or runtime the camera cannot do without: status 1 and one line naming it; without
// both encoder and decoder the camera runs on, not ready.
TEST(Entry, MissingDevicesStopTheCameraOrLeaveItNotReady) {
    const struct {
        const char* binary;
        std::map<std::string, std::string> env;
        int status;
        const char* message;
    } cases[] = {
        {PTZCAM_BINARY, {}, 1, "Cannot find uio device ndi_regs!\n"},  // the camera binary has no FPGA here
        {PTZCAM_SIM_BINARY, {{"PTZSIM_NDI", "0"}}, 1, "Cannot run NDI!\n"},
        {PTZCAM_SIM_BINARY, {{"PTZSIM_UIO_ABSENT", "ndi_enc,ndi_dec"}}, 0, "Could not initialize hardware\n"},
    };
    for (const auto& c : cases) {
        ScratchRoot root;
        auto env = simEnv(root);
        env.insert(c.env.begin(), c.env.end());
        const auto r = runProcess(c.binary, {}, env, "exit\n");
        EXPECT_EQ(r.status, c.status) << c.message;
        if (c.status == 0)
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err, c.message);
    }
}

// Level 2 shows the platform lines; -q stops at 0, so -p -q -q -q -p -p is level 2, not 4. The
// camera makes a device root of its own when given none, and removes it on "exit".
TEST(Entry, VirtualCameraShowsThePlatformLinesMakesItsOwnRootAndStopsOnExit) {
    const auto r = runProcess(PTZCAM_SIM_BINARY, {"-p", "-p"}, {{"PTZCAM_ROOT", ""}, {"PTZSIM_HTTP", "0"}},
                              "hello\nexit\nnever read\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Platform: Mendal NDI Product\nVersion : 3.1.0\nDate    : 20261206\n"), std::string::npos)
        << r.err;
    const std::string marker = "ptzcam-sim: device root ";
    const auto at = r.err.find(marker);
    ASSERT_NE(at, std::string::npos) << r.err;
    const std::string path = r.err.substr(at + marker.size(), r.err.find('\n', at) - at - marker.size());
    EXPECT_FALSE(fs::exists(path)) << path;
    EXPECT_NE(r.err.find("ptzcam-sim: serving VISCA on interface "), std::string::npos) << "PTZCAM_IFACE unset";

    ScratchRoot root;
    const auto quiet = runProcess(PTZCAM_SIM_BINARY, {"-p", "-q", "-q", "-q", "-p", "-p"}, simEnv(root), "exit\n");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err.find("Platform:"), std::string::npos);
}

// As under a service manager: no terminal, standard input at its end from the start. The camera
// idles there until a termination signal, whose name ends standard output and whose number is the status.
TEST(Entry, VirtualCameraAtEndOfInputRunsIdleUntilASignalEndsIt) {
    for (const auto& [sig, line] : {std::pair{SIGTERM, "\nSIGTERM\n"}, {SIGINT, "\nSIGINT\n"}, {SIGHUP, "\nSIGHUP\n"}}) {
        SCOPED_TRACE(line);
        ScratchRoot root;
        ChildProcess sim(PTZCAM_SIM_BINARY, {"-X", "-x"}, simEnv(root));
        sim.closeInput();
        // The configuration file appears once the entry is running, after the signals were blocked.
        ASSERT_TRUE(waitFor([&] { return fs::exists(root.path + "/root/server/config.cfg"); }, 20s, 10ms));
        std::this_thread::sleep_for(200ms);
        if (sig == SIGTERM) {
            // Three quiet seconds in a row: longer than any pause of a (sanitizer build's) start-up; a
            // main thread spinning at end of input never gives them.
            int quietSeconds = 0;
            EXPECT_TRUE(waitFor(
                [&] {
                    const long before = mainThreadTicks(sim.processId());
                    std::this_thread::sleep_for(1s);
                    quietSeconds = mainThreadTicks(sim.processId()) - before <= 5 ? quietSeconds + 1 : 0;
                    return quietSeconds == 3;
                },
                40s, 0ms))
                << "the main thread spins at end of input";
            ASSERT_EQ(kill(sim.processId(), 0), 0) << "the camera quit at end of input";
        }
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(kill(sim.processId(), sig), 0);
        const auto r = sim.wait(10s);
        EXPECT_LT(std::chrono::steady_clock::now() - sent, 3s);
        EXPECT_EQ(r.status, sig) << r.err;
        EXPECT_TRUE(r.out.ends_with(line)) << r.out;
    }
}
