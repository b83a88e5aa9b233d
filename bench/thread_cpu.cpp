#include "thread_cpu.h"

#include <dirent.h>

#include <fstream>

uint64_t threadCpuNs(const std::string& name) {
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return 0;
    uint64_t ns = 0;
    while (const dirent* entry = readdir(tasks)) {
        const std::string dir = std::string("/proc/self/task/") + entry->d_name;
        std::string comm;
        std::getline(std::ifstream(dir + "/comm"), comm);
        if (comm != name) continue;
        std::ifstream(dir + "/schedstat") >> ns;
        break;
    }
    closedir(tasks);
    return ns;
}
