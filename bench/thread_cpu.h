// Processor time of this process's threads, by name, for the per-frame cost figures.
#pragma once

#include <cstdint>
#include <string>

// Nanoseconds the first thread of this process with the name has run; 0 when there is none.
uint64_t threadCpuNs(const std::string& name);
