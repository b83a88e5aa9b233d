// The settings file's edges; the entry and service tests run the degree, reverse and speed settings end to end.
#include "base/config_parser.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <variant>

#include "support/log_capture.h"
#include "support/thrown_message.h"

namespace {
namespace fs = std::filesystem;

const std::string kDefaultFile =
    "PtzLimitDegree=90\nLimitChkEnable=true\nPTZ_QC_ENABLE=false\nPtzMaxSpeedUp=1.0\nPAN_REVERSE=false\nTILT_REVERSE=false\n";
const std::string kModified = "config.cfg file has been modified.\r\n", kCannotOpen = "config.cfg file cannot be opened.";

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}
unsigned modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}
size_t entriesIn(const std::string& dir) { return size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator())); }
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

// Runs `body` in a child process (which may drop its rights or limit its writes); its exit code or -1.
int inChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(body());
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    } cases[] = {
        {"PtzLimitDegree=\n", "PtzLimitDegree", 150u, 90u}, {"PtzLimitDegree=abc\n", "PtzLimitDegree", 150u, 0u},
        {"PAN_REVERSE=1\nPtzLimitDegree=90abc", "PtzLimitDegree", 150u, 90u}, {"PAN_REVERSE=x=y\n", "PAN_REVERSE", "false", "x=y"},
        {"# note\nPtzLimitDegree\n\nPtzLimitDegree=0\n", "PtzLimitDegree", 150u, 0u}, {"Foo=\n", "Foo", "kept", "kept"},
        {"PAN_REVERSE= true # on\n", "PAN_REVERSE", "false", "true"}, {"PAN_REVERSE=   \n", "PAN_REVERSE", "false", "false"},
        {"PtzMaxSpeedUp=fast\n", "PtzMaxSpeedUp", 1.0f, 0.0f}, {"PtzMaxSpeedUp=\n", "PtzMaxSpeedUp", 3.0f, 1.0f},
        {"# PAN_REVERSE=true\nPAN_REVERSE true\n", "PAN_REVERSE", "false", "false"},  // not found: the only message
    };
    const configParser parser(path);
    for (const auto& c : cases) {
        writeFile(path, c.file);
        Value value = c.start;
        std::visit([&](auto& destination) { parser.getValue(c.key, destination); }, value);
        EXPECT_EQ(value, c.expected) << "file: " << c.file;
    }
    EXPECT_EQ(log.text(), "PAN_REVERSE item could not be found.\r\n");
}

// The defaults and the folder's mode are checked end to end; here the new file's mode whatever the umask, and no leftovers.
TEST_F(ConfigParserTest, ConstructionCreatesOrCompletesAndSetValueReplacesEveryLineOfTheKey) {
    const mode_t savedMask = ::umask(077);
    EXPECT_EQ(configParser(root + "/server/config.cfg").directory, root + "/server");
    ::umask(savedMask);
    EXPECT_EQ(std::make_tuple(modeOf(root + "/server/config.cfg"), entriesIn(root + "/server")), std::make_tuple(0644u, size_t{1}));
    EXPECT_EQ(logSince(0), root + "/server directory has been created.\r\n");
    const std::string twice = "PAN_REVERSE=true\nPAN_REVERSE=false\n", crlf = "PtzLimitDegree=90\r\nLimitChkEnable=true\r\n"
        "PTZ_QC_ENABLE=false\r\nPtzMaxSpeedUp=1.0\r\nPAN_REVERSE=false\r\nTILT_REVERSE=false\r\n";
    const std::pair<std::string, std::string> cases[] = {
        {twice, twice + replaced(kDefaultFile, "PAN_REVERSE=false\n", "")},
        {crlf, crlf},
        {"PtzLimitDegree=90\nLimitChkEnable=true\n# note\nPTZ_QC_ENABLE=false\nPtzMaxSpeedUp=\nFoo=\nFoo=bar\n"
         "PAN_REVERSE=false\nTILT_REVERSE=false\n",
         replaced(kDefaultFile, "PAN_REVERSE", "Foo=bar\nPAN_REVERSE")},
    };
    for (const auto& [before, after] : cases) {
        writeFile(path, before);
        const size_t mark = log.text().size();
        const configParser parser(path);
        EXPECT_EQ(std::make_tuple(readFile(path), logSince(mark), entriesIn(root)),
                  std::make_tuple(after, before != after ? kModified : "", size_t{2}));
    }
    writeFile(path, twice + kDefaultFile);
    configParser parser(path);
    parser.setValue("PAN_REVERSE", "true");
    parser.setValue("New", "1.500000");
    EXPECT_EQ(readFile(path), "PAN_REVERSE=true\nPAN_REVERSE=true\n" + replaced(kDefaultFile, "PAN_REVERSE=false", "PAN_REVERSE=true") +
                                  "New=1.500000\n");
}

// A path without directory or name throws; a file that cannot be opened keeps the starting values.
TEST_F(ConfigParserTest, BadPathsThrowAndUnusableFilesKeepStartingValues) {
    for (const char* bad : {"config.cfg", "/config.cfg", "/root/server/", "/"})
        EXPECT_EQ(thrownMessage<std::invalid_argument>([&] { configParser parser(bad); }), "path is incorrect.") << bad;
    writeFile(root + "/plain", "x");
    fs::create_directory(root + "/sub");
    for (const std::string& unusable : {root + "/sub", root + "/plain/config.cfg"}) {
        std::unique_ptr<configParser> parser;
        ASSERT_NO_THROW(parser = std::make_unique<configParser>(unusable)) << unusable;
        uint32_t degree = 150;
        const size_t mark = log.text().size();
        parser->getValue("PtzLimitDegree", degree);
        EXPECT_EQ(std::make_tuple(parser->ready, degree, logSince(mark)), std::make_tuple(1u, 150u, kCannotOpen));
        EXPECT_EQ(thrownMessage<std::runtime_error>([&] { parser->setValue("PAN_REVERSE", "true"); }), kCannotOpen);
        EXPECT_EQ(entriesIn(root), 2u) << unusable;
    }
}

// In a process without root's rights: a writable file is completed and keeps its mode; a read-only one is
// neither completed nor set, as the rename would otherwise replace it; and when writes stop after a few bytes,
// as on a full medium, completion and setValue leave the old file whole (a rewrite in place would cut it).
TEST_F(ConfigParserTest, RewritesKeepReadOnlyFilesModesAndOldFilesWholeOnFailure) {
    constexpr uid_t kNobody = 65534;
    const std::string incomplete = "PAN_REVERSE=true\n", readOnly = root + "/read_only.cfg", shared = root + "/shared.cfg";
    for (const auto& file : {readOnly, shared, path}) writeFile(file, incomplete);
    ::chmod(readOnly.c_str(), 0444);
    ::chmod(shared.c_str(), 0666);
    ::chmod(path.c_str(), 0666);
    ::chmod(root.c_str(), 0777);
    EXPECT_EQ(inChild([&] {
                  if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                                           ::setresuid(kNobody, kNobody, kNobody) != 0))
                      return 3;
                  const configParser completed(shared);
                  const int readOnlyFails = setValueFails(readOnly, "PAN_REVERSE", "false");
                  ::signal(SIGXFSZ, SIG_IGN);
                  const rlimit small{20, 20};
                  ::setrlimit(RLIMIT_FSIZE, &small);
                  const configParser notCompleted(path);
                  return readOnlyFails * 10 + setValueFails(path, "PtzMaxSpeedUp", "1.500000");
              }),
              0);
    EXPECT_EQ(std::make_tuple(readFile(readOnly), modeOf(readOnly), modeOf(shared), readFile(path), entriesIn(root)),
              std::make_tuple(incomplete, 0444u, 0666u, incomplete, size_t{3}));
    EXPECT_NE(readFile(shared).find("TILT_REVERSE=false\n"), std::string::npos) << "not completed";
}
}  // namespace
