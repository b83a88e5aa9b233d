// Reads the settings file, completes it with defaults and rewrites it atomically.
#include "base/config_parser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/log.h"

namespace {

const char* const kCannotOpen = "config.cfg file cannot be opened.";

// Splits a line at its first '='; false for a line without one.
bool splitLine(const std::string& line, configParser::Entry& entry) {
    const auto pos = line.find('=');
    if (pos == std::string::npos) return false;
    entry.first.assign(line, 0, pos);
    entry.second.assign(line, pos + 1);
    return true;
}

std::string serialise(const configParser::EntryList& entries) {
    std::string text;
    for (const auto& [key, value] : entries) {
        text += key;
        text += '=';
        text += value;
        text += '\n';
    }
    return text;
}

bool writeAll(int fd, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// A replaced file keeps its permission bits; a new one is 0644.
// A file is rewritten only if this process could have written it in place:
// the rename would otherwise replace a file its owner made read-only.
bool openableForWriting(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool isMissing(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
}

// Formatted extraction: skips leading blanks, stops at the first byte that
// does not continue the value, stores 0 for a number that is not there.
template <typename T>
void convert(const std::string& text, T& destination) {
    std::istringstream stream(text);
    stream >> destination;
}

}  // namespace

configParser::configParser(const std::string& path)
    : defaults{{"PtzLimitDegree", "90"}, {"LimitChkEnable", "true"},
               {"PTZ_QC_ENABLE", "false"}, {"PtzMaxSpeedUp", "1.0"},
               {"PAN_REVERSE", "false"}, {"TILT_REVERSE", "false"}} {
    setPath(path);
    makeDirectory();
    checkFile();
    ready = 1;
}

void configParser::setPath(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == path.size()) {
        throw std::invalid_argument("path is incorrect.");
    }
    directory = path.substr(0, slash);
    filePath = path;
}

void configParser::makeDirectory() const {
    struct stat st {};
    if (::stat(directory.c_str(), &st) == 0) return;
    // A failure shows later, when the file cannot be opened.
    ::mkdir(directory.c_str(), 0755);
    logAt(5, "%s directory has been created.\r\n", directory.c_str());
}

void configParser::getValue(const std::string& key, std::string& destination) const {
    std::string text;
    if (findValue(key, text)) convert(text, destination);
}

void configParser::getValue(const std::string& key, uint32_t& destination) const {
    std::string text;
    if (findValue(key, text)) convert(text, destination);
}

void configParser::getValue(const std::string& key, float& destination) const {
    std::string text;
    if (findValue(key, text)) convert(text, destination);
}

// The value text of the first line of key, its default when that line's value is empty.
bool configParser::findValue(const std::string& key, std::string& text) const {
    std::ifstream file(filePath, std::ios::binary);
    if (!file.is_open()) {
        logAt(3, "%s", kCannotOpen);
        return false;
    }
    std::string line;
    Entry entry;
    while (std::getline(file, line)) {
        if (!splitLine(line, entry) || entry.first != key) continue;
        if (!entry.second.empty()) {
            text = std::move(entry.second);
            return true;
        }
        const std::string* fallback = defaultFor(key);
        if (fallback == nullptr) return false;
        text = *fallback;
        return true;
    }
    // A read error (a directory in the file's place, a failing medium) is no absent key.
    if (file.bad()) {
        logAt(3, "%s", kCannotOpen);
    } else {
        logAt(3, "%s item could not be found.\r\n", key.c_str());
    }
    return false;
}

const std::string* configParser::defaultFor(const std::string& key) const {
    for (const auto& [name, text] : defaults) {
        if (name == key) return &text;
    }
    return nullptr;
}

void configParser::checkFile() {
    std::ifstream file(filePath, std::ios::binary);
    if (!file.is_open()) {
        // Only a missing file is created: one that exists but cannot be
        // opened may still hold the user's settings.
        if (isMissing(filePath)) replaceFile(serialise(defaults));
        return;
    }
    EntryList entries = readAll(file);
    // Rewriting from a partial read would throw the unread settings away.
    if (file.bad()) return;
    file.close();
    if (completeEntries(entries)) report(replaceFile(serialise(entries)));
}

// Empty values take their default (unknown keys with one are dropped) and
// missing settings are appended in table order; true when anything changed.
bool configParser::completeEntries(EntryList& entries) const {
    bool modified = false;
    EntryList kept;
    kept.reserve(entries.size() + defaults.size());
    for (auto& entry : entries) {
        if (entry.second.empty()) {
            modified = true;
            const std::string* fallback = defaultFor(entry.first);
            if (fallback == nullptr) continue;
            entry.second = *fallback;
        }
        kept.push_back(std::move(entry));
    }
    for (const auto& pair : defaults) {
        const bool present = std::any_of(kept.begin(), kept.end(),
                                         [&](const Entry& e) { return e.first == pair.first; });
        if (!present) {
            kept.push_back(pair);
            modified = true;
        }
    }
    entries = std::move(kept);
    return modified;
}

void configParser::setValue(const std::string& key, const std::string& value) {
    checkFile();
    std::ifstream file(filePath, std::ios::binary);
    if (!file.is_open()) throw std::runtime_error(kCannotOpen);
    EntryList entries = readAll(file);
    if (file.bad()) throw std::runtime_error(kCannotOpen);
    file.close();

    bool found = false;
    for (auto& entry : entries) {
        if (entry.first != key) continue;
        entry.second = value;
        found = true;
    }
    if (!found) entries.emplace_back(key, value);

    const Replacement result = replaceFile(serialise(entries));
    report(result);
    if (!result.placed) throw std::runtime_error(kCannotOpen);
}

configParser::EntryList configParser::readAll(std::istream& file) {
    EntryList entries;
    std::string line;
    Entry entry;
    while (std::getline(file, line)) {
        if (splitLine(line, entry)) entries.push_back(entry);
    }
    return entries;
}

// The new text is written to a file of its own beside the old one and
// renamed over it, so a power cut leaves the old file or the new one whole.
configParser::Replacement configParser::replaceFile(const std::string& content) const {
    Replacement result;
    struct stat old {};
    const bool present = ::stat(filePath.c_str(), &old) == 0;
    if (present && !openableForWriting(filePath)) return result;
    std::string temporary = filePath + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return result;
    // The new file takes the old one's place with its mode and owner; mkostemp makes
    // 0600 files of ours. Only root can hand a file to another owner, so a failed
    // chown leaves it ours, as a write in place by this process would have.
    (void)::fchmod(fd, present && S_ISREG(old.st_mode) ? (old.st_mode & 07777) : 0644);
    if (present) (void)::fchown(fd, old.st_uid, old.st_gid);
    const bool written = writeAll(fd, content);
    result.synced = written && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), filePath.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return result;
    }
    result.placed = true;
    // The rename itself is only durable once the directory is synced.
    result.synced = syncDirectory() && result.synced;
    return result;
}

bool configParser::syncDirectory() const {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

void configParser::report(const Replacement& result) {
    if (!result.placed) {
        logAt(5, "File cannot be opened again\r\n");
        return;
    }
    if (!result.synced) logAt(5, "File synchronization failed.\r\n");
    logAt(5, "config.cfg file has been modified.\r\n");
}
