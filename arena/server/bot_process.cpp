#include "arena/server/bot_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "arena/server/output_file.hpp"
#include "util/whole_file.hpp"

extern char** environ;

namespace nimbus::arena {

namespace {

void say(const char* text) {
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, std::strlen(text));
}

// The keeper: the first process of the bot's group. It starts the bot's shell, collects every
// process the bot leaves behind (it is their subreaper), and ends with the shell's own status
// once none is left. When the arena dies, however it dies, the kernel tells the keeper
// (parent-death signal) and the keeper kills the whole group. Runs in the forked child: only
// async-signal-safe calls.
[[noreturn]] void keep(pid_t arena, int log, char* const argv[], char* const envp[]) {
    sigset_t watched;
    ::sigemptyset(&watched);
    for (int s : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) {
        ::sigaddset(&watched, s);
    }
    ::sigprocmask(SIG_BLOCK, &watched, nullptr);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != arena) {
        ::_exit(143);  // the arena died before the keeper could watch it
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const int in = ::open("/dev/null", O_RDONLY);
    if (in < 0 || ::dup2(in, STDIN_FILENO) < 0 || ::dup2(log, STDOUT_FILENO) < 0 ||
        ::dup2(log, STDERR_FILENO) < 0) {
        ::_exit(127);
    }
    // Nothing of the arena's stays open: no listening socket keeps its port taken after it.
    ::close_range(3, ~0U, 0);

    const pid_t shell = ::fork();
    if (shell == 0) {
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve("/bin/sh", argv, envp);
        say("nimbus-arena: cannot run /bin/sh: ");
        say(std::strerror(errno));
        say("\n");
        ::_exit(127);
    }
    if (shell < 0) {
        say("nimbus-arena: cannot start the bot: ");
        say(std::strerror(errno));
        say("\n");
        ::_exit(127);
    }
    int shellStatus = 0;
    for (;;) {
        siginfo_t info;
        const int s = ::sigwaitinfo(&watched, &info);
        if (::getppid() != arena) {
            ::kill(0, SIGKILL);  // the arena has gone: the whole group goes with it
        }
        if (s != SIGCHLD) {
            continue;  // SIGTERM and SIGINT to the group are for the bot; the keeper stays
        }
        for (;;) {
            int status = 0;
            const pid_t done = ::waitpid(-1, &status, WNOHANG);
            if (done == shell) {
                shellStatus = status;
            }
            if (done < 0 && errno == ECHILD) {
                // Everything the bot started has ended: end as its shell ended.
                if (WIFSIGNALED(shellStatus)) {
                    const int sig = WTERMSIG(shellStatus);
                    ::signal(sig, SIG_DFL);
                    sigset_t only;
                    ::sigemptyset(&only);
                    ::sigaddset(&only, sig);
                    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
                    ::kill(::getpid(), sig);
                    ::_exit(128 + sig);
                }
                ::_exit(WEXITSTATUS(shellStatus));
            }
            if (done <= 0) {
                break;
            }
        }
    }
}

}  // namespace

BotProcess::BotProcess(const std::string& command, const std::string& logPath,
                       const std::vector<std::string>& extraEnv)
    : command_(command), logPath_(logPath) {
    std::vector<std::string> env(extraEnv);
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());  // first, so it wins over an inherited entry of the same name
    }
    for (char** e = environ; *e != nullptr; ++e) {
        envp.push_back(*e);
    }
    envp.push_back(nullptr);
    std::string shell = "/bin/sh";
    std::string dashC = "-c";
    std::string text = command;
    char* argv[] = {shell.data(), dashC.data(), text.data(), nullptr};

    // A log of an earlier run is replaced; the new one is created anew, never through a link.
    if (const std::string why = removeStale(logPath); !why.empty()) {
        throw std::runtime_error("cannot start \"" + command + "\": " + why);
    }
    const util::OpenedFile opened = util::createNew(logPath);
    const int log = opened.fd;
    if (log < 0) {
        throw std::runtime_error("cannot start \"" + command + "\": " + opened.error.message);
    }
    const pid_t arena = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        keep(arena, log, argv, envp.data());
    }
    const int forkError = errno;
    ::close(log);
    if (pid_ < 0) {
        throw std::runtime_error("cannot start \"" + command + "\": " + std::strerror(forkError));
    }
    // Also here, so that the group exists before the arena may signal it.
    ::setpgid(pid_, pid_);
}

BotProcess::~BotProcess() {
    if (pid_ > 0 && !exited()) {
        kill();
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

bool BotProcess::exited() {
    if (exited_ || pid_ <= 0) {
        return true;
    }
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || r < 0) {
        exited_ = true;
        status_ = status;
    }
    return exited_;
}

void BotProcess::terminate() {
    if (!exited()) {
        ::kill(-pid_, SIGTERM);
    }
}

void BotProcess::kill() {
    if (!exited()) {
        ::kill(-pid_, SIGKILL);
    }
}

}  // namespace nimbus::arena
