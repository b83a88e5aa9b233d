// The engineering console: a line interpreter on standard input, run by the entry on the main
// thread once everything is started.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "control/debug_command.h"

class video_capture;
class audio_capture;

class Console {
public:
    static constexpr int kLineBytes = 200;
    static constexpr int kMaxArguments = 4;

    enum class End { exitWord, endOfInput };
    // The service's debugCommand.
    using DebugRunner = std::function<void(unsigned code, DebugArgs args)>;

    // Either capture may be null (started with -X or -x).
    Console(std::shared_ptr<video_capture> video, std::shared_ptr<audio_capture> audio, DebugRunner debugCommand,
            FILE* in = stdin, FILE* out = stdout);

    // Reads lines until "exit" or the end of the input.
    End runConsole();
    // One line (changed in place); false for "exit".
    bool handleLine(char* line);

private:
    struct Words {
        const char* word = nullptr;
        const char* args[kMaxArguments] = {};
        int count = 0;  // arguments present
    };

    void videoIn();
    void audioIn();
    void audioOut(const Words& w);
    void tally(const Words& w);
    void servo(const Words& w);
    void motion(const Words& w);
    bool motionDegrees(const Words& w);
    void reply(const std::string& text);
    static int32_t number(const char* text);

    std::shared_ptr<video_capture> video;
    std::shared_ptr<audio_capture> audio;
    DebugRunner debugCommand;
    FILE* in;
    FILE* out;
};
