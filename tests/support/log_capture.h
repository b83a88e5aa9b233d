// Points the process log at a memory buffer for the life of a test scope.
#pragma once

#include <cstdio>
#include <string>

class LogCapture {
public:
    explicit LogCapture(int level);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text();

private:
    FILE* savedStream;
    int savedLevel;
    char* buffer = nullptr;
    size_t size = 0;
    FILE* memory;
};
