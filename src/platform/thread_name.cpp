#include "platform/thread_name.h"

#include <pthread.h>

#include <cstring>
#include <string>

void set_thread_name(const char* name) {
    // The kernel keeps 15 characters; longer names would make the call fail.
    pthread_setname_np(pthread_self(), std::string(name, strnlen(name, 15)).c_str());
}
