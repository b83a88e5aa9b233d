// An unbuffered scratch file that may be read while a thread still writes to it: reads go to the
// file itself, never to the stream's buffer.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

class ScratchFile {
public:
    ScratchFile() { std::setvbuf(file, nullptr, _IONBF, 0); }
    ~ScratchFile() { std::fclose(file); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    std::string textFrom(size_t from) const {
        std::string text;
        char chunk[4096];
        ssize_t n;
        while ((n = pread(fileno(file), chunk, sizeof chunk, static_cast<off_t>(from + text.size()))) > 0)
            text.append(chunk, static_cast<size_t>(n));
        return text;
    }
    // What was written since the last take.
    std::string take() {
        std::string text = textFrom(taken);
        taken += text.size();
        return text;
    }

    FILE* const file = std::tmpfile();

private:
    size_t taken = 0;
};
