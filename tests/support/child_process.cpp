#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "support/http_post.h"

extern char** environ;

namespace {
std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& overrides) {
    std::map<std::string, std::string> merged;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [key, value] : overrides) {
        if (value.empty())
            merged.erase(key);
        else
            merged[key] = value;
    }
    std::vector<std::string> list;
    for (const auto& [key, value] : merged) list.push_back(key + "=" + value);
    return list;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (auto& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}
}  // namespace

ChildProcess::ChildProcess(const std::string& binary, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env) {
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) || pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC))
        throw std::runtime_error("pipe");
    std::vector<std::string> argv{binary};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = mergedEnvironment(env);
    auto argPointers = pointers(argv);
    auto envPointers = pointers(envp);
    pid = fork();
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        execve(binary.c_str(), argPointers.data(), envPointers.data());
        _exit(127);
    }
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    in = inPipe[1];
    out = outPipe[0];
    err = errPipe[0];
    signal(SIGPIPE, SIG_IGN);
}

ChildProcess::~ChildProcess() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    for (int fd : {in, out, err})
        if (fd >= 0) ::close(fd);
}

void ChildProcess::write(const std::string& text) {
    if (in >= 0 && ::write(in, text.data(), text.size()) < 0) closeInput();
}

void ChildProcess::closeInput() {
    if (in >= 0) ::close(in);
    in = -1;
}

void ChildProcess::discardOutput() {
    char buffer[4096];
    for (int fd : {out, err}) {
        pollfd p{fd, POLLIN, 0};
        while (fd >= 0 && poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0 && read(fd, buffer, sizeof buffer) > 0) {
        }
    }
}

ProcessResult ChildProcess::wait(std::chrono::milliseconds timeout) {
    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[4096];
    while (out >= 0 || err >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? out : err;
            if (fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            } else {
                ::close(fd);
                fd = -1;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

ProcessResult runProcess(const std::string& binary, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const std::string& input) {
    ChildProcess child(binary, args, env);
    child.write(input);
    child.closeInput();
    return child.wait();
}

std::string httpGet(int port, const std::string& path) {
    const std::string response = httpExchange(port, "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    const auto body = response.find("\r\n\r\n");
    return body == std::string::npos ? "" : response.substr(body + 4);
}
