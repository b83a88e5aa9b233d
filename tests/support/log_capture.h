// Points the process log at a scratch file for the life of a test scope; it may be read while
// threads are still logging.
#pragma once

#include <string>

#include "support/scratch_file.h"

class LogCapture {
public:
    explicit LogCapture(int level);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const { return scratch.textFrom(0); }

private:
    FILE* savedStream;
    int savedLevel;
    ScratchFile scratch;
};
