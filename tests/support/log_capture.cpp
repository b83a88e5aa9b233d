#include "support/log_capture.h"

#include "base/log.h"
#include "support/file_text.h"

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

std::string LogCapture::text() { return fileTextFrom(file); }
