// The text of a request body without the whitespace around it (curl -d and echo add some).
#pragma once

#include <string>

namespace sim {

inline std::string trimmedBody(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace sim
