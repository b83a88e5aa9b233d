// What the MultiPort adapter sends, as the viscaPTZ thread serves it: detection, queries
// (answered at once) and status frames (logged).
#pragma once

#include <array>
#include <cstdint>
#include <span>

class MultiPort;

class MultiPortInput {
public:
    static constexpr int kReadBytes = 1000;

    explicit MultiPortInput(MultiPort& adapter) : adapter(adapter) {}

    // Reads what the adapter sent and acts on it. A port that hung up is closed (logged once),
    // so that the socket thread stops watching it.
    void serve();
    // One read's bytes, matched by their first bytes.
    void handle(std::span<const uint8_t> bytes);

private:
    MultiPort& adapter;
    std::array<uint8_t, kReadBytes> buffer{};
};
