// The console's words: what each line prints and which engineering commands it runs, lines of
// every length and content, and the end of its input; and the QC sweep's engineering commands.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "control/console.h"
#include "control/qc_sweep.h"

namespace {
struct Call {
    unsigned code;
    int32_t a = 0, b = 0;
    bool operator==(const Call&) const = default;
};

struct Session {
    std::vector<Call> calls;
    std::string out;
    Console::End end;
};

// Feeds `input` to a console without captures; records its engineering commands and output.
Session run(const std::string& input) {
    Session r;
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    FILE* in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    if (input.empty()) in = std::fopen("/dev/null", "r");
    Console console(nullptr, nullptr, [&](unsigned code, DebugArgs args) { r.calls.push_back({code, args.a, args.b}); },
                    in, out);
    r.end = console.runConsole();
    std::fclose(in);
    std::fclose(out);
    r.out.assign(buffer, size);
    std::free(buffer);
    return r;
}

using D = DebugCommand;

const struct {
    const char* line;
    std::vector<Call> calls;
    const char* out;
} kWords[] = {
    {"video_out", {}, "video_out\n"}, {"video_in", {}, "video_in no capture\n"},
    {"audio_in", {}, "audio_in no capture\n"}, {"audio_out on", {}, "audio_out on\n"},
    {"audio_out off", {}, "audio_out off\n"}, {"audio_out loud", {}, "audio_out\n"},
    {"audio_out", {}, "audio_out off\n"}, {"tally on", {}, "tally on\n"}, {"tally", {}, "tally off\n"},
    {"tally off", {}, "tally off\n"}, {"tally red", {}, "tally\n"}, {"hello", {}, "unknow_command\n"},
    {"     ", {}, ""}, {"", {}, ""}, {"sv get 2", {{D::kServoRead, 0, 0}}, ""},
    {"sv get 2 56", {{D::kServoRead, 2, 56}}, ""}, {"sv", {}, "unknow_command\n"}, {"ptz", {{D::kStop}}, ""},
    {"ptz stop", {{D::kStop}}, ""}, {"ptz home", {{D::kHome}}, ""}, {"ptz left", {{D::kLeft}}, ""},
    {"ptz right", {{D::kRight}}, ""}, {"ptz up", {{D::kUp}}, ""}, {"ptz down", {{D::kDown}}, ""},
    {"ptz rightup", {{D::kRight}, {D::kUp}}, ""}, {"ptz rightdown", {{D::kRight}, {D::kDown}}, ""},
    {"ptz leftup", {{D::kLeft}, {D::kUp}}, ""}, {"ptz leftdown", {{D::kLeft}, {D::kDown}}, ""},
    {"ptz tilt -300", {{D::kTiltBy, -300, 0}}, ""}, {"ptz pan 4000", {{D::kPanBy, 4000, 0}}, ""},
    {"ptz swon", {{D::kSwitchesOn}}, ""}, {"ptz swoff", {{D::kSwitchesOff}}, ""}, {"ptz 0", {{D::kDegreeCentre}}, ""},
    {"ptz 90", {{D::kDegree90}}, ""}, {"ptz 150", {{D::kDegree150}}, ""}, {"ptz 350", {{D::kDegree350}}, ""},
    {"ptz ramp", {{D::kRampStatus}}, ""}, {"ptz pos", {{D::kPositions}}, ""},
    {"ptz abs pan 400", {{D::kAbsoluteDegrees, 1, 400}}, "index 3\n"},
    {"ptz abs tilt -7", {{D::kAbsoluteDegrees, 0, -7}}, "index 3\n"}, {"ptz abs pan", {}, "index 2\n"},
    {"ptz abs roll 5", {}, "index 3\n"}, {"ptz rel tilt 12", {{D::kRelativeDegrees, 0, 12}}, ""},
    {"ptz rel pan 99999999999", {{D::kRelativeDegrees, 1, INT32_MAX}}, ""}, {"ptz spin", {}, "unknow_command\n"},
};
}  // namespace

TEST(Console, EachWordPrintsItsReplyAndRunsItsCommandsUntilExit) {
    for (const auto& c : kWords) {
        const Session r = run(std::string(c.line) + "\n");
        EXPECT_EQ(std::tie(r.calls, r.out), std::make_tuple(c.calls, std::string(c.out))) << c.line;
        EXPECT_EQ(r.end, Console::End::endOfInput) << c.line;
    }
    const Session r = run("ptz left\nexit\nptz right\n");  // exit stops the motors and ends reading
    EXPECT_EQ(r.calls, (std::vector<Call>{{D::kLeft}, {D::kStop}}));
    EXPECT_EQ(r.end, Console::End::exitWord);
    EXPECT_EQ(run("").end, Console::End::endOfInput);
    EXPECT_EQ(run("ptz left").calls, std::vector<Call>{{D::kLeft}}) << "a last line without its newline";
}

// A line longer than the buffer is read in pieces of at most 199 bytes, each taken as a line.
TEST(Console, LongAndCrowdedLinesStayInsideTheLineBuffer) {
    const std::string pad(Console::kLineBytes - 1 - std::string("ptz left").size(), ' ');
    EXPECT_EQ(run("ptz left" + pad + "ptz right\n").calls, (std::vector<Call>{{D::kLeft}, {D::kRight}}));
    for (const auto& [length, pieces] : {std::pair{199, 1}, {200, 2}, {398, 2}, {399, 3}}) {
        std::string expected;
        for (int i = 0; i < pieces; ++i) expected += "unknow_command\n";
        EXPECT_EQ(run(std::string(size_t(length), 'x') + "\n").out, expected) << length;
    }
    std::string tokens = "ptz";
    for (int i = 0; i < 90; ++i) tokens += " up";
    EXPECT_EQ(run(tokens + "\n").calls, std::vector<Call>{{D::kUp}}) << "words past the fourth are ignored";
}

// A stop with its pause, the pan out and back in steps of 10 degrees, the tilt up and down in steps
// of 3, then the cycle again.
TEST(QcSweep, CyclesThroughStopPanAndTiltStages) {
    std::vector<std::pair<int, int>> way;  // (axis: 1 pan, 0 tilt; degrees)
    for (const auto& [axis, limit, step] : {std::tuple{1, 175, 10}, {0, 20, 3}}) {
        for (int a = step - limit; a <= limit; a += step) way.emplace_back(axis, a);
        way.emplace_back(axis, limit);  // the step past the end is held there, then back from there
        for (int a = limit - step; a >= -limit; a -= step) way.emplace_back(axis, a);
        way.emplace_back(axis, -limit);
    }
    QcSweep sweep;
    for (int cycle = 0; cycle < 2; ++cycle) {
        const auto stop = sweep.next();
        EXPECT_EQ(std::pair(stop.code, stop.pause), std::pair(unsigned{DebugCommand::kStop}, QcSweep::kStopPause));
        std::vector<std::pair<int, int>> moves;
        for (QcSweep::Stage stage = sweep.stage(); stage != QcSweep::kStopped; stage = sweep.stage()) {
            const auto step = sweep.next();
            ASSERT_EQ(step.code, DebugCommand::kAbsoluteDegrees);
            EXPECT_EQ(step.args.a, stage == QcSweep::kPanSweep ? 1 : 0) << "the stage names the axis";
            moves.emplace_back(step.args.a, step.args.b);
        }
        EXPECT_EQ(moves, way) << "cycle " << cycle;
    }
}
