#include "tournament/child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace nimbus::tournament {

pid_t startChild(const std::vector<std::string>& argv, const std::filesystem::path& outputPath) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const std::string output = outputPath.string();
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error(std::string("cannot start a game: ") + std::strerror(errno));
    }
    if (pid > 0) {
        // Also here, so that the group exists for kill(-pid) however soon it comes.
        ::setpgid(pid, pid);
        return pid;
    }
    // The child: only async-signal-safe calls from here on.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) {
        ::_exit(143);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) {
        ::_exit(127);
    }
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    ::execv(args[0], args.data());
    const char* reason = std::strerror(errno);
    const char prefix[] = "nimbus-tournament: cannot run the arena: ";
    [[maybe_unused]] ssize_t w = ::write(STDERR_FILENO, prefix, sizeof prefix - 1);
    w = ::write(STDERR_FILENO, reason, std::strlen(reason));
    w = ::write(STDERR_FILENO, "\n", 1);
    ::_exit(127);
}

}  // namespace nimbus::tournament
