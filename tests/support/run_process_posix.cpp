#include "tests/support/run_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace nimbus::testing {

namespace {

// This process's environment with the given entries added (an entry replaces one of its name).
std::vector<std::string> environmentWith(const std::vector<std::string>& added) {
    std::vector<std::string> all;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const std::string& a : added)
            replaced = replaced || a.rfind(name, 0) == 0;
        if (!replaced)
            all.push_back(entry);
    }
    all.insert(all.end(), added.begin(), added.end());
    return all;
}

}  // namespace

ProcessResult runProcess(const std::string& path, const std::vector<std::string>& args,
                         std::chrono::milliseconds timeout,
                         const std::vector<std::string>& environment) {
    // Everything the child needs is made before fork: between fork and exec only async-signal-
    // safe calls are allowed, and a test has server threads running.
    std::vector<std::string> env = environmentWith(environment);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::execve(path.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    ProcessResult result;
    const auto deadline = start + timeout;
    bool killed = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 && !killed) {
            ::kill(pid, SIGKILL);
            killed = true;
        }
        pollfd p{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, killed ? 1000 : static_cast<int>(left.count()));
        if (ready <= 0) {
            if (killed)
                break;
            continue;
        }
        char buf[4096];
        const ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        result.output.append(buf, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string withPlatformLineEnds(const std::string& text) {
    return text;
}

}  // namespace nimbus::testing
