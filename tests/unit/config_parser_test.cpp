// Tests of the settings file: lookups, completion, rewrites and crash safety.
#include "base/config_parser.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <variant>

#include "base/log.h"
#include "support/log_capture.h"
#include "support/thrown_message.h"

namespace {

namespace fs = std::filesystem;

const std::string kDefaultFile =
    "PtzLimitDegree=90\nLimitChkEnable=true\nPTZ_QC_ENABLE=false\n"
    "PtzMaxSpeedUp=1.0\nPAN_REVERSE=false\nTILT_REVERSE=false\n";
const std::string kModified = "config.cfg file has been modified.\r\n";
const std::string kCannotOpen = "config.cfg file cannot be opened.";

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}
unsigned modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}
size_t entriesIn(const std::string& dir) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

class ConfigParserTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "config_parser_test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        path = root + "/config.cfg";
    }
    void TearDown() override { fs::remove_all(root); }
    std::string logSince(size_t mark) { return log.text().substr(mark); }

    LogCapture log{5};
    std::string root, path;
};

using Value = std::variant<uint32_t, float, std::string>;

TEST_F(ConfigParserTest, LookupFollowsLineAndConversionRules) {
    const struct {
        const char *file, *key;
        Value start, expected;
        bool notFound;
    } cases[] = {
        {"PtzLimitDegree=90\n", "PtzLimitDegree", 150u, 90u, false},
        {"PtzLimitDegree=\n", "PtzLimitDegree", 150u, 90u, false},
        {"PtzLimitDegree=abc\n", "PtzLimitDegree", 150u, 0u, false},
        {"PtzLimitDegree=350\r\n", "PtzLimitDegree", 150u, 350u, false},
        {"PAN_REVERSE=1\nPtzLimitDegree=90abc", "PtzLimitDegree", 150u, 90u, false},
        {"# note\nPtzLimitDegree\n\nPtzLimitDegree=0\n", "PtzLimitDegree", 150u, 0u, false},
        {"PAN_REVERSE= true\n", "PAN_REVERSE", "false", "true", false},
        {"PAN_REVERSE=true # on\n", "PAN_REVERSE", "false", "true", false},
        {"PAN_REVERSE=x=y\n", "PAN_REVERSE", "false", "x=y", false},
        {"PAN_REVERSE=   \n", "PAN_REVERSE", "false", "false", false},
        {"# PAN_REVERSE=true\nPAN_REVERSE true\n", "PAN_REVERSE", "false", "false", true},
        {"Foo=\n", "Foo", "kept", "kept", false},
        {"PtzMaxSpeedUp=2.5\n", "PtzMaxSpeedUp", 1.0f, 2.5f, false},
        {"PtzMaxSpeedUp=fast\n", "PtzMaxSpeedUp", 1.0f, 0.0f, false},
        {"PtzMaxSpeedUp=\n", "PtzMaxSpeedUp", 3.0f, 1.0f, false},
    };
    const configParser parser(path);
    for (const auto& c : cases) {
        writeFile(path, c.file);
        Value value = c.start;
        const size_t mark = log.text().size();
        std::visit([&](auto& destination) { parser.getValue(c.key, destination); }, value);
        EXPECT_EQ(value, c.expected) << "file: " << c.file;
        EXPECT_EQ(logSince(mark), c.notFound ? std::string(c.key) + " item could not be found.\r\n" : "") << c.file;
    }
}

TEST_F(ConfigParserTest, MissingDirectoryAndFileAreCreated) {
    const std::string dir = root + "/server";
    const mode_t savedMask = ::umask(022);
    const configParser parser(dir + "/config.cfg");
    ::umask(savedMask);
    EXPECT_EQ(parser.directory, dir);  // the defaults and the folder's mode are checked end to end
    EXPECT_EQ(modeOf(dir + "/config.cfg"), 0644u);
    EXPECT_EQ(entriesIn(dir), 1u) << "a temporary file was left behind";
    EXPECT_EQ(logSince(0), dir + " directory has been created.\r\n");
}

TEST_F(ConfigParserTest, ConstructionCompletesFileOnlyWhenNeeded) {
    std::string crlf;
    for (const char c : kDefaultFile) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const std::string noPanReverse = replaced(kDefaultFile, "PAN_REVERSE=false\n", "");
    const std::pair<std::string, std::string> cases[] = {
        {"PAN_REVERSE=true\nPAN_REVERSE=false\n", "PAN_REVERSE=true\nPAN_REVERSE=false\n" + noPanReverse},
        {"PtzLimitDegree = 90\n", "PtzLimitDegree = 90\n" + kDefaultFile},
        {"", kDefaultFile},
        {crlf, crlf},
        {"PtzLimitDegree=90\nLimitChkEnable=true\n# note\nPTZ_QC_ENABLE=false\nPtzMaxSpeedUp=\n"
         "Foo=\nFoo=bar\nPAN_REVERSE=false\nTILT_REVERSE=false\n",
         "PtzLimitDegree=90\nLimitChkEnable=true\nPTZ_QC_ENABLE=false\nPtzMaxSpeedUp=1.0\n"
         "Foo=bar\nPAN_REVERSE=false\nTILT_REVERSE=false\n"},
    };
    for (const auto& [before, after] : cases) {
        writeFile(path, before);
        const size_t mark = log.text().size();
        const configParser parser(path);
        EXPECT_EQ(readFile(path), after) << before;
        EXPECT_EQ(logSince(mark), before != after ? kModified : "") << before;
        EXPECT_EQ(entriesIn(root), 1u) << before;
    }
}

TEST_F(ConfigParserTest, SetValueReplacesEveryLineOfTheKey) {
    const struct {
        std::string before;
        const char *key, *value;
        std::string after;
    } cases[] = {
        {"PAN_REVERSE=false\n" + kDefaultFile, "PAN_REVERSE", "true",
         "PAN_REVERSE=true\n" + replaced(kDefaultFile, "PAN_REVERSE=false", "PAN_REVERSE=true")},
        {kDefaultFile + "# note\n", "PtzMaxSpeedUp", "1.500000", replaced(kDefaultFile, "=1.0", "=1.500000")},
        {kDefaultFile, "Foo", "bar", kDefaultFile + "Foo=bar\n"},
    };
    for (const auto& c : cases) {
        writeFile(path, c.before);
        configParser parser(path);
        const size_t mark = log.text().size();
        parser.setValue(c.key, c.value);
        EXPECT_EQ(readFile(path), c.after) << c.key;
        EXPECT_EQ(logSince(mark), kModified) << c.key;
    }
}

TEST(ConfigParserPath, RejectsPathsWithoutDirectoryOrName) {
    for (const char* bad : {"config.cfg", "/config.cfg", "/root/server/", "/"}) {
        EXPECT_EQ(thrownMessage<std::invalid_argument>([&] { configParser parser(bad); }), "path is incorrect.") << bad;
    }
}

TEST_F(ConfigParserTest, UnusableFileKeepsStartingValues) {
    writeFile(root + "/plain", "x");
    fs::create_directory(root + "/sub");
    for (const std::string& unusable : {root + "/sub", root + "/plain/config.cfg"}) {
        std::unique_ptr<configParser> parser;
        ASSERT_NO_THROW(parser = std::make_unique<configParser>(unusable)) << unusable;
        EXPECT_EQ(parser->ready, 1u);
        uint32_t degree = 150;
        const size_t mark = log.text().size();
        parser->getValue("PtzLimitDegree", degree);
        EXPECT_EQ(degree, 150u);
        EXPECT_EQ(logSince(mark), kCannotOpen);
        EXPECT_EQ(thrownMessage<std::runtime_error>([&] { parser->setValue("PAN_REVERSE", "true"); }), kCannotOpen);
        EXPECT_EQ(entriesIn(root), 2u) << unusable;
    }
}

// Runs `body` in a child process (which may limit its writes or drop its rights); its exit code or -1.
int inChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(body());
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// 0 when setValue threw the expected error, 1 when it did not throw, 2 on another error.
int setValueFails(const std::string& file, const std::string& key, const std::string& value) {
    try {
        configParser(file).setValue(key, value);
    } catch (const std::runtime_error& error) {
        return error.what() == kCannotOpen ? 0 : 2;
    }
    return 1;
}

TEST_F(ConfigParserTest, FailedWriteLeavesOldFileWhole) {
    const std::string incomplete = "PAN_REVERSE=true\n", other = root + "/other.cfg";
    writeFile(path, incomplete);
    writeFile(other, kDefaultFile);
    EXPECT_EQ(inChild([&] {
                  // Writes stop after a few bytes, as on a full medium.
                  ::signal(SIGXFSZ, SIG_IGN);
                  const rlimit small{20, 20};
                  ::setrlimit(RLIMIT_FSIZE, &small);
                  const configParser completed(path);
                  return setValueFails(other, "PtzMaxSpeedUp", "1.500000");
              }),
              0);
    EXPECT_EQ(readFile(path), incomplete);
    EXPECT_EQ(readFile(other), kDefaultFile);
    EXPECT_EQ(entriesIn(root), 2u) << "a temporary file was left behind";
}

TEST_F(ConfigParserTest, KilledRewriteLeavesOldOrNewFileWhole) {
    // Extra lines make each rewrite long enough for kills to land inside it.
    std::string off = kDefaultFile;
    for (int i = 0; i < 2000; ++i) off += "Filler" + std::to_string(i) + "=0123456789abcdef0123456789\n";
    const std::string on = replaced(off, "PAN_REVERSE=false", "PAN_REVERSE=true");
    writeFile(path, off);
    debug_level = 2;
    std::mt19937 random(20240601);
    for (int round = 0; round < 40; ++round) {
        int done[2];
        ASSERT_EQ(::pipe(done), 0);
        std::fflush(nullptr);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (unsigned i = 0;; ++i) {
                try {
                    configParser(path).setValue("PAN_REVERSE", i % 2 == 0 ? "true" : "false");
                } catch (...) {
                }
                if (::write(done[1], "+", 1) != 1) ::_exit(1);
            }
        }
        ::close(done[1]);
        // The kill lands somewhere in the rewrites that follow the first one.
        pollfd first{done[0], POLLIN, 0};
        const bool rewriting = ::poll(&first, 1, 5000) == 1;
        if (rewriting) ::usleep(random() % 4000);
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        ::close(done[0]);
        ASSERT_TRUE(rewriting) << "the child never finished a rewrite";
        const std::string now = readFile(path);
        ASSERT_TRUE(now == on || now == off) << "round " << round << ": torn file of " << now.size() << " bytes";
    }
}

// An unprivileged process neither completes nor sets a read-only file and keeps a writable one's
// mode; root's rewrite keeps the owner.
TEST_F(ConfigParserTest, RewriteKeepsTheOldFilesPermissionsAndOwner) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user and to give files away";
    constexpr uid_t kNobody = 65534;
    const std::string incomplete = "PAN_REVERSE=true\n";
    const std::string readOnly = root + "/read_only.cfg", shared = root + "/shared.cfg", given = root + "/given.cfg";
    for (const auto& file : {readOnly, shared, given}) writeFile(file, incomplete);
    ::chmod(readOnly.c_str(), 0444);
    ::chmod(shared.c_str(), 0666);
    ::chmod(root.c_str(), 0777);
    EXPECT_EQ(inChild([&] {
                  if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                      ::setresuid(kNobody, kNobody, kNobody) != 0)
                      return 2;
                  const configParser completed(shared);
                  return setValueFails(readOnly, "PAN_REVERSE", "false");
              }),
              0);
    EXPECT_EQ(std::make_tuple(readFile(readOnly), modeOf(readOnly), modeOf(shared)),
              std::make_tuple(incomplete, 0444u, 0666u));
    EXPECT_NE(readFile(shared).find("TILT_REVERSE=false\n"), std::string::npos) << "not completed";

    ASSERT_EQ(::chown(given.c_str(), kNobody, kNobody), 0);
    configParser(given).setValue("PAN_REVERSE", "false");
    struct stat st {};
    ASSERT_EQ(::stat(given.c_str(), &st), 0);
    EXPECT_EQ(std::make_tuple(st.st_uid, st.st_gid), std::make_tuple(kNobody, kNobody));
}

}  // namespace
