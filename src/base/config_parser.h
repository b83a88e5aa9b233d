// The camera's settings file: key=value lookups, default completion and safe rewrites.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

inline constexpr const char* kConfigFile = "/root/server/config.cfg";

class configParser {
public:
    using Entry = std::pair<std::string, std::string>;
    using EntryList = std::vector<Entry>;

    // Makes sure the directory and a complete file exist; throws
    // std::invalid_argument("path is incorrect.") for a path it cannot split.
    explicit configParser(const std::string& path);

    uint32_t ready = 0;
    std::string directory;
    std::string filePath;
    EntryList defaults;

    void setPath(const std::string& path);

    // Each lookup reads the file anew; the destination changes only when
    // the key is found with a usable value.
    void getValue(const std::string& key, std::string& destination) const;
    void getValue(const std::string& key, uint32_t& destination) const;
    void getValue(const std::string& key, float& destination) const;

    // Completes a file that lacks settings or holds empty values.
    void checkFile();

    // Replaces every line of key (or appends it); throws
    // std::runtime_error("config.cfg file cannot be opened.") when it cannot.
    void setValue(const std::string& key, const std::string& value);

    // The setting lines of a file, split at their first '=', as they stand.
    static EntryList readAll(std::istream& file);

private:
    // Whether a rewrite reached its place and the storage medium.
    struct Replacement {
        bool placed = false;
        bool synced = false;
    };

    void makeDirectory() const;
    bool findValue(const std::string& key, std::string& text) const;
    const std::string* defaultFor(const std::string& key) const;
    bool completeEntries(EntryList& entries) const;
    Replacement replaceFile(const std::string& content) const;
    bool syncDirectory() const;
    static void report(const Replacement& result);
};
