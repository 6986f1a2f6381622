#pragma once
// Untrusted programs in a sandbox of their own, built with Debian's bubblewrap (bwrap): the user
// nobody, in a user and a PID namespace of its own, the system read-only, a private working folder,
// /tmp and /dev/shm each a size-capped tmpfs, only the files its command names (and the paths
// given) readable beyond the system, and its limits set inside (prlimit). The network is the one
// of whoever starts it: a game gives itself one of its own (enterOwnNetwork).
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace nimbus::util {

// The limits of one sandboxed program, with the defaults a contest would pick.
struct SandboxLimits {
    std::int64_t memoryMiB = 1024;      // resident memory of all its processes together
    std::int32_t processes = 64;        // processes and threads together
    std::int32_t openFiles = 256;       // per process
    std::int64_t fileSizeMiB = 64;      // the largest file it may write
    std::int64_t diskMiB = 64;          // each of its working folder, /tmp and /dev/shm
    double cpuCores = 1.0;              // its share of the machine's cores, over kCpuWindow
    std::vector<std::string> readOnly;  // more files or folders it may read (absolute paths)
    bool operator==(const SandboxLimits&) const = default;
};

// A bot that uses more than its cores over this window (with 10 % leeway) is over its CPU share.
constexpr std::chrono::seconds kCpuWindow{2};

// The sandbox of one program: its limits, its working folder (an absolute path, where a private
// tmpfs is mounted) and the paths bound read-only at their own place.
struct Sandbox {
    SandboxLimits limits;
    std::string workDir;
    std::vector<std::string> readOnly;
};

// Why --sandbox cannot run here ("" when it can): not root, no bwrap, no prlimit, or a sandbox
// that fails to start (the probe runs `true` in one).
std::string sandboxProblem();

// Why `dir` cannot be a sandbox's working folder ("" when it can): "/" and the system's own
// folders (/proc, /sys, /dev) cannot.
std::string workDirProblem(const std::string& dir);

// The sandbox of a shell command run from `workDir`: bound read-only are the files and folders
// its words name (a word, or the part after '=' in NAME=VALUE, naming an existing path, relative
// to workDir or absolute): a folder whole, a file with the folder it is in, except that the
// working folder and the folders above it are never bound (a file there is bound alone); paths of
// the system, already bound, are left out; then limits.readOnly.
Sandbox commandSandbox(const std::string& command, const std::string& workDir,
                       const SandboxLimits& limits);

// The program line that runs `argv` in the sandbox: bwrap with its options, then prlimit with the
// limits, then argv. The sandbox's environment is PATH, HOME (the working folder), TMPDIR, LANG
// and `env` ("NAME=value" entries); nothing else of ours.
std::vector<std::string> sandboxedArgv(const Sandbox& sandbox, const std::vector<std::string>& argv,
                                       const std::vector<std::string>& env);

// The unprivileged user and group a sandboxed program runs as (nobody, nogroup).
constexpr uid_t kSandboxUid = 65534;
constexpr gid_t kSandboxGid = 65534;

// Moves this process into a network namespace of its own, with only the loopback interface, up.
// Throws std::runtime_error with the reason.
void enterOwnNetwork();

// What a sandboxed program uses now: its processes' CPU time (their children's included once
// reaped), resident memory and tasks (processes and threads), as its PID namespace lists them.
struct SandboxUsage {
    double cpuSeconds = 0.0;
    std::int64_t residentBytes = 0;
    std::int32_t tasks = 0;
};

// The first process of the sandbox of a program that startProcess started sandboxed (pid: the
// process it returned): the init of its PID namespace, 0 while there is none (not yet, or no
// more). Reads /proc.
pid_t sandboxInit(pid_t pid);

// The usage of the sandbox whose init is `init` (read from its own /proc); false while it is not
// set up yet, and once it has gone.
bool sandboxUsage(pid_t init, SandboxUsage& usage);

}  // namespace nimbus::util
