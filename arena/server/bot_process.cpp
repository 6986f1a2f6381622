#include "arena/server/bot_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <stdexcept>

extern char** environ;

namespace nimbus::arena {

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
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    // The bot gets its three standard streams and nothing else: no inherited listening socket
    // that would keep the arena's port taken after the arena has gone.
    posix_spawn_file_actions_addclosefrom_np(&files, 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    std::string shell = "/bin/sh";
    std::string dashC = "-c";
    std::string text = command;
    char* argv[] = {shell.data(), dashC.data(), text.data(), nullptr};
    const int rc = posix_spawn(&pid_, "/bin/sh", &files, &attr, argv, envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&files);
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start \"" + command + "\": " + std::strerror(rc));
    }
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
