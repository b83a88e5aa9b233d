// Termination signals end the virtual camera with the signal's name on standard output and its number as status.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <thread>

#include "support/child_process.h"
#include "support/wait_for.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(Signals, EndTheProcessWithTheSignalNumber) {
    const struct {
        int signal;
        const char* line;
    } cases[] = {{SIGINT, "\nSIGINT\n"}, {SIGTERM, "\nSIGTERM\n"}, {SIGHUP, "\nSIGHUP\n"}};
    for (const auto& c : cases) {
        std::string pattern = (fs::temp_directory_path() / "ptzcam-signal.XXXXXX").string();
        const std::string root = mkdtemp(pattern.data());
        fs::create_directories(root + "/root");
        {
            ChildProcess child(PTZCAM_SIM_BINARY, {"-x", "-X"}, {{"PTZCAM_ROOT", root}, {"PTZSIM_HTTP", "0"}});
            // The configuration file appears once the entry is running, after the signals were blocked.
            waitFor([&] { return fs::exists(root + "/root/server/config.cfg"); }, 20s, 10ms);
            std::this_thread::sleep_for(200ms);
            ASSERT_EQ(kill(child.processId(), c.signal), 0);
            const ProcessResult r = child.wait(20s);
            EXPECT_FALSE(r.timedOut);
            EXPECT_EQ(r.status, c.signal) << r.err;
            ASSERT_GE(r.out.size(), std::string(c.line).size());
            EXPECT_EQ(r.out.substr(r.out.size() - std::string(c.line).size()), c.line) << r.out;
        }
        fs::remove_all(root);
    }
}
