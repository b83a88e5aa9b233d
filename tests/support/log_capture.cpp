#include "support/log_capture.h"

#include <unistd.h>

#include "base/log.h"

// Unbuffered into a scratch file: every line goes straight to the file, and text() reads the file,
// never the stream's own buffer, which threads still logging are writing.
LogCapture::LogCapture(int level) : savedStream(log_stream), savedLevel(debug_level), file(std::tmpfile()) {
    std::setvbuf(file, nullptr, _IONBF, 0);
    log_stream = file;
    debug_level = level;
}

LogCapture::~LogCapture() {
    log_stream = savedStream;
    debug_level = savedLevel;
    std::fclose(file);
}

std::string LogCapture::text() {
    std::string out;
    char chunk[4096];
    ssize_t n;
    while ((n = pread(fileno(file), chunk, sizeof chunk, static_cast<off_t>(out.size()))) > 0)
        out.append(chunk, static_cast<size_t>(n));
    return out;
}
