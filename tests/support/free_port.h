#pragma once

#include <cstdint>

// A port that no UDP or TCP socket holds now. Drawn below the kernel's ephemeral range, so a client
// socket of a test running beside this one cannot take it before the code under test binds it, and
// never the same port twice in one process.
uint16_t freePort();
