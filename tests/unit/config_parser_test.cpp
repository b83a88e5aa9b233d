// Tests of the settings file: lookups, completion, rewrites and crash safety.
#include "base/config_parser.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <tuple>
#include <variant>

#include "base/log.h"
#include "support/log_capture.h"
#include "support/thrown_message.h"

namespace {

namespace fs = std::filesystem;

const std::string kDefaultFile =
    "PtzLimitDegree=90\nLimitChkEnable=true\nPTZ_QC_ENABLE=false\n"
    "PtzMaxSpeedUp=1.0\nPAN_REVERSE=false\nTILT_REVERSE=false\n";

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

unsigned modeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

size_t entriesIn(const std::string& dir) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
    return text;
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
    size_t logMark() { return log.text().size(); }
    std::string logSince(size_t mark) { return log.text().substr(mark); }

    LogCapture log{5};
    std::string root;
    std::string path;
};

using Value = std::variant<uint32_t, float, std::string>;

TEST_F(ConfigParserTest, LookupFollowsLineAndConversionRules) {
    const struct {
        const char *file, *key;
        Value start, expected;
        bool notFound;
    } cases[] = {
        {"PtzLimitDegree=90\n", "PtzLimitDegree", 150u, 90u, false},
        {"PtzLimitDegree = 90\n", "PtzLimitDegree", 150u, 150u, true},
        {"ptzlimitdegree=90\n", "PtzLimitDegree", 150u, 150u, true},
        {"PtzLimitDegree=\n", "PtzLimitDegree", 150u, 90u, false},
        {"PtzLimitDegree=abc\n", "PtzLimitDegree", 150u, 0u, false},
        {"PtzLimitDegree=350\r\n", "PtzLimitDegree", 150u, 350u, false},
        {"PAN_REVERSE=1\nPtzLimitDegree=90abc", "PtzLimitDegree", 150u, 90u, false},
        {"PtzLimitDegree=7\nPtzLimitDegree=8\n", "PtzLimitDegree", 150u, 7u, false},
        {"# note\nPtzLimitDegree\n\nPtzLimitDegree=0\n", "PtzLimitDegree", 150u, 0u, false},
        {"", "PtzLimitDegree", 150u, 150u, true},
        {"PAN_REVERSE=true\n", "PAN_REVERSE", "false", "true", false},
        {"PAN_REVERSE=true\r\n", "PAN_REVERSE", "false", "true", false},
        {"PAN_REVERSE= true\n", "PAN_REVERSE", "false", "true", false},
        {"PAN_REVERSE=true # on\n", "PAN_REVERSE", "false", "true", false},
        {"PAN_REVERSE=True\n", "PAN_REVERSE", "false", "True", false},
        {"PAN_REVERSE=x=y\n", "PAN_REVERSE", "false", "x=y", false},
        {"PAN_REVERSE=   \n", "PAN_REVERSE", "false", "false", false},
        {"# PAN_REVERSE=true\nPAN_REVERSE true\n", "PAN_REVERSE", "false", "false", true},
        {"PAN_REVERSE=true\nTILT_REVERSE=true\n", "PTZ_QC_ENABLE", "false", "false", true},
        {"Foo=\n", "Foo", "kept", "kept", false},
        {"PtzMaxSpeedUp=2.5\n", "PtzMaxSpeedUp", 1.0f, 2.5f, false},
        {"PtzMaxSpeedUp=2e0\r\n", "PtzMaxSpeedUp", 1.0f, 2.0f, false},
        {"PtzMaxSpeedUp=fast\n", "PtzMaxSpeedUp", 1.0f, 0.0f, false},
        {"PtzMaxSpeedUp=\n", "PtzMaxSpeedUp", 3.0f, 1.0f, false},
    };
    const configParser parser(path);
    for (const auto& c : cases) {
        writeFile(path, c.file);
        Value value = c.start;
        const size_t mark = logMark();
        std::visit([&](auto& destination) { parser.getValue(c.key, destination); }, value);
        EXPECT_EQ(value, c.expected) << "file: " << c.file;
        const std::string expectedLog = c.notFound ? std::string(c.key) + " item could not be found.\r\n" : "";
        EXPECT_EQ(logSince(mark), expectedLog) << "file: " << c.file;
    }
}

TEST_F(ConfigParserTest, MissingDirectoryAndFileAreCreatedWithDefaults) {
    const std::string dir = root + "/server";
    const mode_t savedMask = ::umask(022);
    const configParser parser(dir + "/config.cfg");
    ::umask(savedMask);

    EXPECT_EQ(parser.ready, 1u);
    EXPECT_EQ(parser.directory, dir);
    EXPECT_EQ(readFile(dir + "/config.cfg"), kDefaultFile);
    EXPECT_EQ(modeOf(dir), 0755u);
    EXPECT_EQ(modeOf(dir + "/config.cfg"), 0644u);
    EXPECT_EQ(entriesIn(dir), 1u) << "a temporary file was left behind";
    EXPECT_EQ(logSince(0), dir + " directory has been created.\r\n");

    uint32_t degree = 150;
    std::string panReverse = "unset";
    parser.getValue("PtzLimitDegree", degree);
    parser.getValue("PAN_REVERSE", panReverse);
    EXPECT_EQ(std::tie(degree, panReverse), std::make_tuple(90u, std::string("false")));
}

TEST_F(ConfigParserTest, ConstructionCompletesFileOnlyWhenNeeded) {
    const std::string crlf =
        "PtzLimitDegree=90\r\nLimitChkEnable=true\r\nPTZ_QC_ENABLE=false\r\n"
        "PtzMaxSpeedUp=1.0\r\nPAN_REVERSE=false\r\nTILT_REVERSE=false\r\n";
    const std::string noPanReverse = replaced(kDefaultFile, "PAN_REVERSE=false\n", "");
    const struct {
        const char* name;
        std::string before, after;
    } cases[] = {
        {"missing keys appended in table order", "PAN_REVERSE=true\n", "PAN_REVERSE=true\n" + noPanReverse},
        {"blank-padded key is another key", "PtzLimitDegree = 90\n", "PtzLimitDegree = 90\n" + kDefaultFile},
        {"duplicates stay", "PAN_REVERSE=true\nPAN_REVERSE=false\n",
         "PAN_REVERSE=true\nPAN_REVERSE=false\n" + noPanReverse},
        {"empty file", "", kDefaultFile},
        {"complete file with comment untouched", "# camera settings\n" + kDefaultFile,
         "# camera settings\n" + kDefaultFile},
        {"complete CR LF file untouched", crlf, crlf},
        {"empty values filled or dropped, comment dropped",
         "PtzLimitDegree=90\nLimitChkEnable=true\n# note\nPTZ_QC_ENABLE=false\nPtzMaxSpeedUp=\n"
         "Foo=\nFoo=bar\nPAN_REVERSE=false\nTILT_REVERSE=false\n",
         "PtzLimitDegree=90\nLimitChkEnable=true\nPTZ_QC_ENABLE=false\nPtzMaxSpeedUp=1.0\n"
         "Foo=bar\nPAN_REVERSE=false\nTILT_REVERSE=false\n"},
    };
    for (const auto& c : cases) {
        writeFile(path, c.before);
        const size_t mark = logMark();
        const configParser parser(path);
        EXPECT_EQ(readFile(path), c.after) << c.name;
        const bool rewritten = c.before != c.after;
        EXPECT_EQ(logSince(mark), rewritten ? "config.cfg file has been modified.\r\n" : "") << c.name;
        EXPECT_EQ(entriesIn(root), 1u) << c.name;
    }
}

TEST_F(ConfigParserTest, SetValueReplacesEveryLineOfTheKey) {
    const struct {
        const char* name;
        std::string before;
        const char *key, *value;
        std::string after;
    } cases[] = {
        {"float setting", replaced(kDefaultFile, "PtzMaxSpeedUp=1.0", "PtzMaxSpeedUp=12.000000"),
         "PtzMaxSpeedUp", "1.500000", replaced(kDefaultFile, "PtzMaxSpeedUp=1.0", "PtzMaxSpeedUp=1.500000")},
        {"key on two lines", "PAN_REVERSE=false\n" + kDefaultFile, "PAN_REVERSE", "true",
         "PAN_REVERSE=true\n" + replaced(kDefaultFile, "PAN_REVERSE=false", "PAN_REVERSE=true")},
        {"comment dropped by the rewrite", kDefaultFile + "# note\n", "TILT_REVERSE", "true",
         replaced(kDefaultFile, "TILT_REVERSE=false", "TILT_REVERSE=true")},
        {"absent key appended", kDefaultFile, "Foo", "bar", kDefaultFile + "Foo=bar\n"},
    };
    for (const auto& c : cases) {
        writeFile(path, c.before);
        configParser parser(path);
        const size_t mark = logMark();
        parser.setValue(c.key, c.value);
        EXPECT_EQ(readFile(path), c.after) << c.name;
        EXPECT_EQ(logSince(mark), "config.cfg file has been modified.\r\n") << c.name;
    }
}

TEST_F(ConfigParserTest, RepeatedSetValueKeepsOneLineAndPermissions) {
    configParser(path).setValue("PAN_REVERSE", "true");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    configParser(path).setValue("PAN_REVERSE", "true");
    EXPECT_EQ(readFile(path), replaced(kDefaultFile, "PAN_REVERSE=false", "PAN_REVERSE=true"));
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(entriesIn(root), 1u);
}

TEST(ConfigParserPath, RejectsPathsWithoutDirectoryOrName) {
    for (const char* bad : {"config.cfg", "/config.cfg", "/root/server/", "/"}) {
        EXPECT_EQ(thrownMessage<std::invalid_argument>([&] { configParser parser(bad); }), "path is incorrect.") << bad;
    }
}

TEST_F(ConfigParserTest, UnusableFileKeepsStartingValues) {
    const std::string notADirectory = root + "/plain";
    writeFile(notADirectory, "x");
    fs::create_directory(root + "/sub");
    for (const std::string& unusable : {root + "/sub", notADirectory + "/config.cfg"}) {
        const size_t before = entriesIn(root);
        std::unique_ptr<configParser> parser;
        ASSERT_NO_THROW(parser = std::make_unique<configParser>(unusable)) << unusable;
        EXPECT_EQ(parser->ready, 1u);

        uint32_t degree = 150;
        std::string qc = "false";
        const size_t mark = logMark();
        parser->getValue("PtzLimitDegree", degree);
        parser->getValue("PTZ_QC_ENABLE", qc);
        EXPECT_EQ(std::tie(degree, qc), std::make_tuple(150u, std::string("false")));
        EXPECT_EQ(logSince(mark), "config.cfg file cannot be opened.config.cfg file cannot be opened.");

        EXPECT_EQ(thrownMessage<std::runtime_error>([&] { parser->setValue("PAN_REVERSE", "true"); }),
                  "config.cfg file cannot be opened.");
        EXPECT_EQ(entriesIn(root), before) << unusable;
    }
}

// Outcome of a child's attempt, as its exit status.
enum ChildResult { kThrewAsExpected = 0, kDidNotThrow = 1, kWrongError = 2 };

// Runs `body` in a child process, which may limit its writes or drop its rights; its result or -1.
int inChild(const std::function<ChildResult()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(body());
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

ChildResult setValueFails(const std::string& file, const std::string& key, const std::string& value) {
    try {
        configParser(file).setValue(key, value);
    } catch (const std::runtime_error& error) {
        return std::string(error.what()) == "config.cfg file cannot be opened." ? kThrewAsExpected : kWrongError;
    }
    return kDidNotThrow;
}

TEST_F(ConfigParserTest, FailedWriteLeavesOldFileWhole) {
    const std::string incomplete = "PAN_REVERSE=true\n";
    const std::string complete = replaced(kDefaultFile, "PtzMaxSpeedUp=1.0", "PtzMaxSpeedUp=1.200000");
    const std::string other = root + "/other.cfg";
    writeFile(path, incomplete);
    writeFile(other, complete);

    EXPECT_EQ(inChild([&] {
                  // Writes stop after a few bytes, as on a full medium.
                  ::signal(SIGXFSZ, SIG_IGN);
                  const rlimit small{20, 20};
                  ::setrlimit(RLIMIT_FSIZE, &small);
                  const configParser completed(path);
                  return setValueFails(other, "PtzMaxSpeedUp", "1.500000");
              }),
              kThrewAsExpected);
    EXPECT_EQ(readFile(path), incomplete);
    EXPECT_EQ(readFile(other), complete);
    EXPECT_EQ(entriesIn(root), 2u) << "a temporary file was left behind";
}

TEST_F(ConfigParserTest, KilledRewriteLeavesOldOrNewFileWhole) {
    // Extra lines make each rewrite long enough for kills to land inside it.
    std::string filler;
    for (int i = 0; i < 2000; ++i) filler += "Filler" + std::to_string(i) + "=0123456789abcdef0123456789\n";
    const std::string off = kDefaultFile + filler;
    const std::string on = replaced(off, "PAN_REVERSE=false", "PAN_REVERSE=true");
    writeFile(path, off);
    debug_level = 2;

    std::mt19937 random(20240601);
    std::uniform_int_distribution<int> delayMicros(0, 4000);
    for (int round = 0; round < 40; ++round) {
        int done[2];
        ASSERT_EQ(::pipe(done), 0);
        std::fflush(nullptr);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(done[0]);
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
        if (rewriting) ::usleep(static_cast<useconds_t>(delayMicros(random)));
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        ::close(done[0]);
        ASSERT_TRUE(rewriting) << "the child never finished a rewrite";
        const std::string now = readFile(path);
        ASSERT_TRUE(now == on || now == off) << "round " << round << ": torn file of " << now.size() << " bytes";
    }
}

// Rewrites follow what the old file allows an unprivileged process: a read-only file is neither
// completed nor set, a writable one keeps its mode; root's rewrite keeps the owner.
TEST_F(ConfigParserTest, RewriteKeepsTheOldFilesPermissionsAndOwner) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user and to give files away";
    constexpr uid_t kNobody = 65534;
    const std::string incomplete = "PAN_REVERSE=true\n";
    const std::string readOnly = root + "/read_only.cfg", shared = root + "/shared.cfg";
    writeFile(readOnly, incomplete);
    writeFile(shared, incomplete);
    ::chmod(readOnly.c_str(), 0444);
    ::chmod(shared.c_str(), 0666);
    ::chmod(root.c_str(), 0777);

    EXPECT_EQ(inChild([&] {
                  if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                      ::setresuid(kNobody, kNobody, kNobody) != 0)
                      return kWrongError;
                  const configParser completed(shared);
                  return setValueFails(readOnly, "PAN_REVERSE", "false");
              }),
              kThrewAsExpected);
    EXPECT_EQ(readFile(readOnly), incomplete);
    EXPECT_EQ(modeOf(readOnly), 0444u);
    EXPECT_NE(readFile(shared).find("TILT_REVERSE=false\n"), std::string::npos) << "not completed";
    EXPECT_EQ(modeOf(shared), 0666u);

    const std::string given = root + "/given.cfg";
    writeFile(given, incomplete);
    ASSERT_EQ(::chown(given.c_str(), kNobody, kNobody), 0);
    configParser(given).setValue("PAN_REVERSE", "false");
    struct stat st {};
    ASSERT_EQ(::stat(given.c_str(), &st), 0);
    EXPECT_EQ(std::make_tuple(st.st_uid, st.st_gid), std::make_tuple(kNobody, kNobody));
}

}  // namespace
