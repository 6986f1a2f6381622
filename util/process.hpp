#pragma once
// Starting programs, the one way the arena and the tournament tool do it: a process group of its
// own, standard input from /dev/null, standard output and error into a file or a descriptor,
// default signal mask, nothing of ours left open, and SIGTERM when we die (so no child outlives
// us). No shell is involved unless the command is one.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "util/sandbox.hpp"

namespace nimbus::util {

struct ProcessSpec {
    // The program and its arguments. argv[0] is a path, or a name looked up in PATH.
    std::vector<std::string> argv;
    // "NAME=value" entries put before the inherited environment (they win over it).
    std::vector<std::string> extraEnv;
    // Where standard output and error go: an open descriptor (not taken over), else a file
    // created anew at outputPath (util::createAnew: never through a link).
    int outputFd = -1;
    std::string outputPath;
    // The group's first process is a keeper that starts the program, collects every process it
    // leaves behind (subreaper), ends with the program's status once none is left, and kills the
    // whole group when we die however we die (even SIGKILL).
    bool keeper = false;
    // Written to the output, with the reason, when the program cannot be executed (exit 127).
    std::string execFailure = "cannot run the program: ";
    // Run in this sandbox (util/sandbox.hpp) as the user nobody: argv and extraEnv go inside it,
    // and nothing else of our environment. Needs root.
    std::optional<Sandbox> sandbox;
};

// Starts the program; returns its pid, which is also its process group's id. Throws
// std::runtime_error, with the reason, when the output cannot be opened or no process made.
pid_t startProcess(const ProcessSpec& spec);

struct CommandOutput {
    int exitCode = -1;   // the exit status; -1 when it was killed by a signal or never ran
    std::string output;  // standard output and error together
};

// Runs the program to its end with its output captured (no shell, standard input /dev/null),
// in the sandbox when one is given.
CommandOutput runCaptured(const std::vector<std::string>& argv,
                          const std::optional<Sandbox>& sandbox = std::nullopt);

// The file that `name` names: itself when it holds a '/', else the first executable of that name
// in PATH, else `name` itself (so that running it says why it cannot run).
std::string programPath(const std::string& name);

// How a wait status reads in a message: "exit status 3", "signal 9".
std::string exitText(int status);

}  // namespace nimbus::util
