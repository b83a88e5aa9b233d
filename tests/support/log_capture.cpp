#include "support/log_capture.h"

#include <cstdlib>

#include "base/log.h"

LogCapture::LogCapture(int level) : savedStream(log_stream), savedLevel(debug_level) {
    memory = open_memstream(&buffer, &size);
    log_stream = memory;
    debug_level = level;
}

LogCapture::~LogCapture() {
    log_stream = savedStream;
    debug_level = savedLevel;
    std::fclose(memory);
    std::free(buffer);
}

std::string LogCapture::text() {
    std::fflush(memory);
    return std::string(buffer, size);
}
