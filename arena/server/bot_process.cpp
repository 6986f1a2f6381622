#include "arena/server/bot_process.hpp"

#include <signal.h>
#include <sys/wait.h>

#include <stdexcept>

#include "util/process.hpp"

namespace nimbus::arena {

BotProcess::BotProcess(const std::string& command, const std::string& logPath,
                       const std::vector<std::string>& extraEnv,
                       const std::optional<util::Sandbox>& sandbox)
    : command_(command), logPath_(logPath) {
    util::ProcessSpec spec;
    spec.argv = {"/bin/sh", "-c", command};
    spec.extraEnv = extraEnv;
    spec.outputPath = logPath;
    spec.keeper = true;
    spec.execFailure =
        sandbox ? "nimbus-arena: cannot run bwrap: " : "nimbus-arena: cannot run /bin/sh: ";
    spec.sandbox = sandbox;
    try {
        pid_ = util::startProcess(spec);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("cannot start \"" + command + "\": " + e.what());
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
