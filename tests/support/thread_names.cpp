#include "support/thread_names.h"

#include <dirent.h>

#include <fstream>

bool threadRunning(const std::string& name) {
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return false;
    bool found = false;
    while (const dirent* entry = readdir(tasks)) {
        std::string comm;
        std::getline(std::ifstream(std::string("/proc/self/task/") + entry->d_name + "/comm"), comm);
        if (comm == name) {
            found = true;
            break;
        }
    }
    closedir(tasks);
    return found;
}
