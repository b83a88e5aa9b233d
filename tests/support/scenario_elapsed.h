// How long a call takes, for the bounds on stops and shutdowns.
#pragma once

#include <chrono>

template <class Call>
std::chrono::steady_clock::duration elapsed(Call&& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::steady_clock::now() - start;
}
