// Process-wide logging state and the one helper every subsystem logs through.
#pragma once

#include <cstdio>

extern int debug_level;    // shown when debug_level >= a message's level
extern FILE* log_stream;   // standard error
extern bool flush_logs;    // -f: flush after every message

// Writes a printf-style message to log_stream when debug_level >= level.
void logAt(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

inline bool logEnabled(int level) { return debug_level >= level; }
