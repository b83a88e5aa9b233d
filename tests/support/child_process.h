// Runs a real binary as a child process with its own environment and pipes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

struct ProcessResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
    bool timedOut = false;
};

class ChildProcess {
public:
    // env entries override the test's environment; an empty value removes the variable.
    ChildProcess(const std::string& binary, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void write(const std::string& text);
    void closeInput();
    pid_t processId() const { return pid; }
    // Drops what the child has written so far, so that a long run never blocks it on a full pipe.
    void discardOutput();
    // Reads output while waiting; kills the child after the timeout.
    ProcessResult wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    pid_t pid = -1;
    int in = -1, out = -1, err = -1;
};

ProcessResult runProcess(const std::string& binary, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {}, const std::string& input = "");

// A GET on 127.0.0.1; the body, or empty when nothing answered.
std::string httpGet(int port, const std::string& path);
