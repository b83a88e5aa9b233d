#include "base/log.h"

#include <cstdarg>

int debug_level = 2;
FILE* log_stream = stderr;
bool flush_logs = false;

void logAt(int level, const char* format, ...) {
    if (debug_level < level) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(log_stream, format, args);
    va_end(args);
    if (flush_logs) std::fflush(log_stream);
}
