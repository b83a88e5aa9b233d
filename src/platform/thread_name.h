// Names the calling thread, as the thread table lists it (at most 15 characters).
#pragma once

void set_thread_name(const char* name);
