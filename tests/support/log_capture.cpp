#include "support/log_capture.h"

#include "base/log.h"

LogCapture::LogCapture(int level) : savedStream(log_stream), savedLevel(debug_level) {
    log_stream = scratch.file;
    debug_level = level;
}

LogCapture::~LogCapture() {
    log_stream = savedStream;
    debug_level = savedLevel;
}
