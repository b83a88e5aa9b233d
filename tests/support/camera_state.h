// The virtual camera as a process: a scratch device root, and its /state document read over
// HTTP on loopback or inside a network namespace (for the end-to-end and soak tests).
#pragma once

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "support/child_process.h"
#include "support/netns_pair.h"
#include "support/wait_for.h"

// A device root with the home directory every camera has; removed with the object.
struct ScratchRoot {
    ScratchRoot() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ptzcam-e2e.XXXXXX").string();
        path = mkdtemp(pattern.data());
        std::filesystem::create_directories(path + "/root");
    }
    ~ScratchRoot() { std::filesystem::remove_all(path); }
    std::string config() const {
        std::ifstream in(path + "/root/server/config.cfg");
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::string path;
};

// The document served on `port` (inside namespace `ns` when one is named); null when nothing parsable came.
inline nlohmann::json cameraState(int port, const std::string& ns = "") {
    std::string body;
    if (ns.empty())
        body = httpGet(port, "/state");
    else
        NetnsPair::inside(ns, [&] { body = httpGet(port, "/state"); });
    nlohmann::json s = nlohmann::json::parse(body, nullptr, false);
    return s.is_discarded() ? nlohmann::json() : s;
}

// Polls the document until `holds`; false when it never did. The last document read goes to `last`.
inline bool waitState(int port, const std::function<bool(nlohmann::json&)>& holds, std::chrono::milliseconds limit,
                      const std::string& ns = "", nlohmann::json* last = nullptr) {
    nlohmann::json s;
    const bool held = waitFor([&] { return !(s = cameraState(port, ns)).is_null() && holds(s); }, limit,
                              std::chrono::milliseconds(20));
    if (last) *last = s;
    return held;
}
