// Tests that need root (network namespaces, sockets bound to a device) end with "AsRoot" in their
// suite name, which gives them the CTest label "root"; without root they skip instead of failing.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#define SKIP_UNLESS_ROOT(why)                                                       \
    do {                                                                            \
        if (geteuid() != 0) GTEST_SKIP() << "needs root: " << (why);                \
    } while (false)
