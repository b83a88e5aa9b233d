// What a stream's file holds from a byte offset on, read from the file itself and not from the
// stream's buffer: the stream must be unbuffered, and a thread may still be writing to it.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

inline std::string fileTextFrom(FILE* file, size_t from = 0) {
    std::string text;
    char chunk[4096];
    ssize_t n;
    while ((n = pread(fileno(file), chunk, sizeof chunk, static_cast<off_t>(from + text.size()))) > 0)
        text.append(chunk, static_cast<size_t>(n));
    return text;
}
