#pragma once
// A bot program the arena starts: a shell command line run in a process group of its own, with
// standard input from /dev/null and standard output and error into a log file, behind a keeper
// (util::startProcess): no bot outlives its arena, however the arena dies. A bot may run in a
// sandbox of its own (util/sandbox.hpp).
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "util/sandbox.hpp"

namespace nimbus::arena {

class BotProcess {
  public:
    // Starts `/bin/sh -c command` with the arena's environment plus `extraEnv` ("NAME=value"
    // entries), or in `sandbox` with only those. Throws std::runtime_error when the process cannot
    // be started.
    BotProcess(const std::string& command, const std::string& logPath,
               const std::vector<std::string>& extraEnv = {},
               const std::optional<util::Sandbox>& sandbox = std::nullopt);
    ~BotProcess();  // ends and reaps a process that is still running
    BotProcess(const BotProcess&) = delete;
    BotProcess& operator=(const BotProcess&) = delete;

    // True once the bot's shell and every process it started have exited (reaps the keeper
    // without waiting).
    bool exited();
    // Asks the whole process group to stop (SIGTERM), or forces it (SIGKILL).
    void terminate();
    void kill();

    // The keeper's pid, which is also the group's id; the bot's processes descend from it.
    pid_t pid() const { return pid_; }
    const std::string& command() const { return command_; }
    const std::string& logPath() const { return logPath_; }
    // The wait status of the bot's shell once exited.
    int status() const { return status_; }

  private:
    std::string command_;
    std::string logPath_;
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

}  // namespace nimbus::arena
