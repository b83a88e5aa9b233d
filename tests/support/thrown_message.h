// The message of the exception of type Error that a body throws, for one-line checks of failures.
#pragma once

#include <string>

template <typename Error, typename Body>
std::string thrownMessage(Body&& body) {
    try {
        body();
    } catch (const Error& error) {
        return error.what();
    }
    return "(nothing thrown)";
}
