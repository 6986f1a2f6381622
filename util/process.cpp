#include "util/process.hpp"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "util/whole_file.hpp"

extern char** environ;

namespace nimbus::util {

namespace {

// Everything the child needs, made before the fork: after it only async-signal-safe calls.
struct Prepared {
    std::string path;
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::vector<char*> argv;
    std::vector<char*> envp;
    std::string execFailure;
    bool unprivileged = false;  // becomes the sandbox's user before it runs the program
};

}  // namespace

std::string programPath(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        end = end == std::string::npos ? dirs.size() : end;
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return name;
}

namespace {

Prepared prepare(const ProcessSpec& spec) {
    Prepared p;
    p.args = spec.sandbox ? sandboxedArgv(*spec.sandbox, spec.argv, spec.extraEnv) : spec.argv;
    p.path = programPath(p.args.at(0));
    if (!spec.sandbox) {
        p.env = spec.extraEnv;
    }
    p.unprivileged = spec.sandbox.has_value();
    p.execFailure = spec.execFailure;
    for (std::string& a : p.args) {
        p.argv.push_back(a.data());
    }
    p.argv.push_back(nullptr);
    for (std::string& e : p.env) {
        p.envp.push_back(e.data());
    }
    for (char** e = environ; *e != nullptr; ++e) {
        p.envp.push_back(*e);
    }
    p.envp.push_back(nullptr);
    return p;
}

void say(const char* text) {
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, std::strlen(text));
}

// Dies with us: SIGTERM when the parent goes. False when it has gone already.
bool watchParent(pid_t parent) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    return ::getppid() == parent;
}

// Standard input from /dev/null, output and error to `output`, nothing else of ours open.
bool redirect(int output) {
    const int in = ::open("/dev/null", O_RDONLY);
    if (in < 0 || ::dup2(in, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 ||
        ::dup2(output, STDERR_FILENO) < 0) {
        return false;
    }
    ::close_range(3, ~0U, 0);
    return true;
}

// Becomes the sandbox's user, for good, and dies with the parent (a change of user clears that).
bool becomeUnprivileged() {
    const pid_t parent = ::getppid();
    return ::setgroups(0, nullptr) == 0 && ::setgid(kSandboxGid) == 0 &&
           ::setuid(kSandboxUid) == 0 && ::prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 &&
           ::getppid() == parent;
}

[[noreturn]] void execute(const Prepared& p) {
    if (p.unprivileged && !becomeUnprivileged()) {
        say("cannot become the sandbox's user nobody: ");
        say(std::strerror(errno));
        say("\n");
        ::_exit(127);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(p.path.c_str(), p.argv.data(), p.envp.data());
    say(p.execFailure.c_str());
    say(std::strerror(errno));
    say("\n");
    ::_exit(127);
}

// Ends the keeper as the program ended: by the same signal, or with the same exit status.
[[noreturn]] void endAs(int status) {
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        ::signal(sig, SIG_DFL);
        sigset_t only;
        ::sigemptyset(&only);
        ::sigaddset(&only, sig);
        ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
        ::kill(::getpid(), sig);
        ::_exit(128 + sig);
    }
    ::_exit(WEXITSTATUS(status));
}

// The keeper (see ProcessSpec::keeper). SIGTERM and SIGINT to the group are for the program;
// the keeper stays until everything has ended, or kills the group when its parent has gone.
[[noreturn]] void keep(const Prepared& p) {
    sigset_t watched;
    ::sigemptyset(&watched);
    for (int s : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) {
        ::sigaddset(&watched, s);
    }
    ::sigprocmask(SIG_BLOCK, &watched, nullptr);
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const pid_t program = ::fork();
    if (program == 0) {
        execute(p);
    }
    if (program < 0) {
        say("cannot start the program: ");
        say(std::strerror(errno));
        say("\n");
        ::_exit(127);
    }
    int programStatus = 0;
    for (;;) {
        siginfo_t info;
        const int s = ::sigwaitinfo(&watched, &info);
        if (::getppid() != parent) {
            ::kill(0, SIGKILL);
        }
        if (s != SIGCHLD) {
            continue;
        }
        for (;;) {
            int status = 0;
            const pid_t done = ::waitpid(-1, &status, WNOHANG);
            if (done == program) {
                programStatus = status;
            }
            if (done < 0 && errno == ECHILD) {
                endAs(programStatus);
            }
            if (done <= 0) {
                break;
            }
        }
    }
}

int openOutput(const ProcessSpec& spec) {
    if (spec.outputFd >= 0) {
        return spec.outputFd;
    }
    const OpenedFile file = createAnew(spec.outputPath);
    if (file.fd < 0) {
        throw std::runtime_error(file.error.message);
    }
    return file.fd;
}

}  // namespace

pid_t startProcess(const ProcessSpec& spec) {
    const Prepared p = prepare(spec);
    const int output = openOutput(spec);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        if (!watchParent(parent)) {
            ::_exit(143);  // we died before the child could watch us
        }
        if (!redirect(output)) {
            ::_exit(127);
        }
        if (spec.keeper) {
            keep(p);
        }
        execute(p);
    }
    const int forkError = errno;
    if (output != spec.outputFd) {
        ::close(output);
    }
    if (pid < 0) {
        throw std::runtime_error(std::string("cannot make a process: ") + std::strerror(forkError));
    }
    // Also here, so that the group exists before we may signal it.
    ::setpgid(pid, pid);
    return pid;
}

CommandOutput runCaptured(const std::vector<std::string>& argv,
                          const std::optional<Sandbox>& sandbox) {
    CommandOutput result;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        result.output = "cannot start " + argv.front() + ": " + std::strerror(errno);
        return result;
    }
    ProcessSpec spec;
    spec.argv = argv;
    spec.outputFd = ends[1];
    spec.execFailure = "cannot run " + argv.front() + ": ";
    spec.sandbox = sandbox;
    pid_t pid = -1;
    try {
        pid = startProcess(spec);
    } catch (const std::runtime_error& e) {
        result.output = "cannot start " + argv.front() + ": " + e.what();
    }
    ::close(ends[1]);
    char buffer[4096];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            break;
        }
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(ends[0]);
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (pid > 0 && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

std::string exitText(int status) {
    if (WIFEXITED(status)) {
        return "exit status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "signal " + std::to_string(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

}  // namespace nimbus::util
