// The names of this process's threads, for tests that check who is still running.
#pragma once

#include <string>

// True while a thread of this process carries the name.
bool threadRunning(const std::string& name);
