#include "control/console.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "media/audio_capture.h"
#include "media/video_capture.h"

using namespace std::chrono_literals;

namespace {
// ptz words that are one or two plain engineering commands.
struct MotionWord {
    const char* word;
    unsigned first;
    int second;  // -1: none
};

constexpr MotionWord kMotionWords[] = {
    {"left", DebugCommand::kLeft, -1},       {"right", DebugCommand::kRight, -1},
    {"up", DebugCommand::kUp, -1},           {"down", DebugCommand::kDown, -1},
    {"home", DebugCommand::kHome, -1},       {"stop", DebugCommand::kStop, -1},
    {"rightup", DebugCommand::kRight, DebugCommand::kUp},
    {"rightdown", DebugCommand::kRight, DebugCommand::kDown},
    {"leftup", DebugCommand::kLeft, DebugCommand::kUp},
    {"leftdown", DebugCommand::kLeft, DebugCommand::kDown},
    {"swon", DebugCommand::kSwitchesOn, -1}, {"swoff", DebugCommand::kSwitchesOff, -1},
    {"0", DebugCommand::kDegreeCentre, -1},  {"90", DebugCommand::kDegree90, -1},
    {"150", DebugCommand::kDegree150, -1},   {"350", DebugCommand::kDegree350, -1},
    {"ramp", DebugCommand::kRampStatus, -1}, {"pos", DebugCommand::kPositions, -1},
};

bool is(const char* text, const char* word) { return text != nullptr && std::strcmp(text, word) == 0; }
}  // namespace

Console::Console(std::shared_ptr<video_capture> video_, std::shared_ptr<audio_capture> audio_,
                 DebugRunner debugCommand_, FILE* in_, FILE* out_)
    : video(std::move(video_)), audio(std::move(audio_)), debugCommand(std::move(debugCommand_)), in(in_), out(out_) {}

Console::End Console::runConsole() {
    char line[kLineBytes];
    for (;;) {
        std::memset(line, 0, sizeof line);
        // A longer line arrives in pieces of at most kLineBytes - 1, each taken as a line.
        if (std::fgets(line, sizeof line, in) == nullptr) return End::endOfInput;
        if (!handleLine(line)) return End::exitWord;
    }
}

bool Console::handleLine(char* line) {
    Words w;
    char* save = nullptr;
    w.word = strtok_r(line, " \n", &save);
    if (w.word == nullptr) return true;
    while (w.count < kMaxArguments) {
        const char* arg = strtok_r(nullptr, " \n", &save);
        if (arg == nullptr) break;
        w.args[w.count++] = arg;
    }
    if (is(w.word, "exit")) {
        debugCommand(DebugCommand::kStop, {});
        return false;
    }
    if (is(w.word, "video_in"))
        videoIn();
    else if (is(w.word, "video_out"))
        reply("video_out");
    else if (is(w.word, "audio_in"))
        audioIn();
    else if (is(w.word, "audio_out"))
        audioOut(w);
    else if (is(w.word, "tally"))
        tally(w);
    else if (is(w.word, "sv"))
        servo(w);
    else if (is(w.word, "ptz"))
        motion(w);
    else
        reply("unknow_command");
    return true;
}

void Console::videoIn() {
    if (!video) return reply("video_in no capture");
    const signal_info s = video->get_signal();
    const bool interlaced = s.interlaced != 0;
    const double rate = s.rate_d != 0 ? static_cast<double>(s.rate_n) / s.rate_d : 0.0;
    // Interlaced input is measured per field: the picture is two fields high, at the field rate.
    char text[96];
    std::snprintf(text, sizeof text, "video_in %dx%d%c%2.2f", s.width, interlaced ? s.height * 2 : s.height,
                  interlaced ? 'i' : 'p', rate);
    reply(text);
}

void Console::audioIn() {
    if (!audio) return reply("audio_in no capture");
    audio_settings settings;
    audio->get_settings(settings);
    char text[64];
    std::snprintf(text, sizeof text, "audio_in %uHz %s", settings.sample_rate,
                  settings.channels == 2 ? "Stereo" : "Mono");
    reply(text);
}

void Console::audioOut(const Words& w) {
    if (w.count > 0) {
        if (is(w.args[0], "on")) return reply("audio_out on");
        if (is(w.args[0], "off")) return reply("audio_out off");
        return reply("audio_out");
    }
    audio_settings settings;
    if (audio) audio->get_settings(settings);
    reply(settings.valid != 0 ? "audio_out on" : "audio_out off");
}

void Console::tally(const Words& w) {
    if (w.count == 0 || is(w.args[0], "off")) return reply("tally off");
    reply(is(w.args[0], "on") ? "tally on" : "tally");
}

void Console::servo(const Words& w) {
    if (is(w.args[0], "get")) {
        const DebugArgs args = w.count < 3 ? DebugArgs{} : DebugArgs{number(w.args[1]), number(w.args[2])};
        return debugCommand(DebugCommand::kServoRead, args);
    }
    if (is(w.args[0], "cmd") && w.count >= 3) {
        debugCommand(DebugCommand::kServoWrite, {number(w.args[1]), number(w.args[2])});
        std::this_thread::sleep_for(1s);
        return debugCommand(DebugCommand::kServoRead, {});
    }
    reply("unknow_command");
}

void Console::motion(const Words& w) {
    if (w.count == 0) return debugCommand(DebugCommand::kStop, {});
    const char* sub = w.args[0];
    for (const MotionWord& m : kMotionWords) {
        if (!is(sub, m.word)) continue;
        debugCommand(m.first, {});
        if (m.second >= 0) debugCommand(static_cast<unsigned>(m.second), {});
        return;
    }
    if (motionDegrees(w)) return;
    if (is(sub, "sw")) {
        debugCommand(DebugCommand::kSwitchesOff, {});
        std::this_thread::sleep_for(2s);
        return debugCommand(DebugCommand::kSwitchesOff, {});
    }
    reply("unknow_command");
}

// ptz abs|rel pan|tilt N, ptz tilt N, ptz pan N; false for any other word.
bool Console::motionDegrees(const Words& w) {
    const char* sub = w.args[0];
    if (is(sub, "tilt") || is(sub, "pan")) {
        debugCommand(is(sub, "tilt") ? DebugCommand::kTiltBy : DebugCommand::kPanBy, {number(w.args[1]), 0});
        return true;
    }
    const bool absolute = is(sub, "abs");
    if (!absolute && !is(sub, "rel")) return false;
    if (absolute) std::fprintf(out, "index %d\n", w.count);
    if (w.count < 3) return true;
    const char* axis = w.args[1];
    if (!is(axis, "pan") && !is(axis, "tilt")) return true;
    debugCommand(absolute ? DebugCommand::kAbsoluteDegrees : DebugCommand::kRelativeDegrees,
                         {is(axis, "pan") ? 1 : 0, number(w.args[2])});
    return true;
}

void Console::reply(const std::string& text) {
    std::fputs(text.c_str(), out);
    std::fputc('\n', out);
    std::fflush(out);
}

int32_t Console::number(const char* text) {
    if (text == nullptr) return 0;
    const long long value = std::strtoll(text, nullptr, 10);
    return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}
