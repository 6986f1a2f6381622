#include "util/sandbox.hpp"

#include <dirent.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "util/process.hpp"

namespace nimbus::util {

namespace fs = std::filesystem;

namespace {

// The system, read-only in every sandbox (a symbolic link, as on merged-/usr systems, stays one).
constexpr const char* kSystem[] = {"/usr", "/etc",   "/bin",   "/sbin",
                                   "/lib", "/lib32", "/lib64", "/libx32"};
// Made by the sandbox itself, never bound from outside.
constexpr const char* kOwn[] = {"/proc", "/sys", "/dev"};
constexpr const char* kPath = "/usr/local/bin:/usr/bin:/bin";

// Whether `path` is `folder` or lies below it (both absolute and normal).
bool within(const fs::path& path, const fs::path& folder) {
    auto p = path.begin();
    for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
        if (p == path.end() || *p != *f) {
            return false;
        }
    }
    return true;
}

bool withinAny(const fs::path& path, const auto& folders) {
    return std::any_of(std::begin(folders), std::end(folders),
                       [&path](const char* f) { return within(path, f); });
}

// An absolute, normal path without a trailing separator.
fs::path normal(const fs::path& path, const fs::path& base) {
    fs::path p = (path.is_relative() ? base / path : path).lexically_normal();
    if (p.filename().empty() && p.has_relative_path()) {
        p = p.parent_path();
    }
    return p;
}

// The words of a command line that may name paths: each word (one layer of quotes taken off),
// and the part after the '=' of a word that holds one.
std::vector<std::string> pathWords(const std::string& command) {
    std::vector<std::string> words;
    std::istringstream in(command);
    for (std::string word; in >> word;) {
        if (word.size() >= 2 && (word.front() == '\'' || word.front() == '"') &&
            word.back() == word.front()) {
            word = word.substr(1, word.size() - 2);
        }
        words.push_back(word);
        if (const std::size_t equals = word.find('='); equals != std::string::npos) {
            words.push_back(word.substr(equals + 1));
        }
    }
    return words;
}

std::string bytes(std::int64_t mib) {
    return std::to_string(mib * 1024 * 1024);
}

// The system's folders as they are here: bound read-only, or the same symbolic link.
void addSystem(std::vector<std::string>& args) {
    for (const char* folder : kSystem) {
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(folder, ec);
        if (fs::is_symlink(status)) {
            args.insert(args.end(), {"--symlink", fs::read_symlink(folder, ec).string(), folder});
        } else if (fs::is_directory(status)) {
            args.insert(args.end(), {"--ro-bind", folder, folder});
        }
    }
}

void addTmpfs(std::vector<std::string>& args, const std::string& at, std::int64_t mib) {
    args.insert(args.end(), {"--size", bytes(mib), "--tmpfs", at});
}

// The working folder's tmpfs and the read-only paths, parents before what lies below them.
void addFiles(std::vector<std::string>& args, const Sandbox& s) {
    std::vector<std::pair<std::string, bool>> mounts{{s.workDir, true}};  // (path, the tmpfs)
    for (const std::string& path : s.readOnly) {
        mounts.emplace_back(path, false);
    }
    std::sort(mounts.begin(), mounts.end());
    for (const auto& [path, work] : mounts) {
        if (work) {
            addTmpfs(args, path, s.limits.diskMiB);
        } else {
            args.insert(args.end(), {"--ro-bind", path, path});
        }
    }
}

// The limits that the kernel keeps, set inside the sandbox so that they count its processes
// only (its own user namespace). Data is capped at twice the memory limit: the watch on the
// resident memory of all its processes stops it before.
std::vector<std::string> limitArgs(const SandboxLimits& l) {
    return {programPath("prlimit"),
            "--nproc=" + std::to_string(l.processes),
            "--nofile=" + std::to_string(l.openFiles),
            "--fsize=" + bytes(l.fileSizeMiB),
            "--data=" + bytes(2 * l.memoryMiB),
            "--core=0",
            "--"};
}

// The numbers of /proc/<pid>/stat after the command's name (field 3 on).
std::vector<std::string> statFields(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    const std::size_t close = text.rfind(')');
    std::vector<std::string> fields;
    if (close != std::string::npos) {
        std::istringstream rest(text.substr(close + 1));
        for (std::string f; rest >> f;) {
            fields.push_back(f);
        }
    }
    return fields;
}

bool isNumber(const char* name) {
    return *name != '\0' &&
           std::all_of(name, name + std::strlen(name), [](char c) { return c >= '0' && c <= '9'; });
}

std::string pidNamespace(pid_t pid) {
    std::error_code ec;
    return fs::read_symlink("/proc/" + std::to_string(pid) + "/ns/pid", ec).string();
}

}  // namespace

std::string sandboxProblem() {
    if (::geteuid() != 0) {
        return "--sandbox needs root (each bot runs as the user nobody, each game in a network "
               "of its own)";
    }
    for (const char* program : {"bwrap", "prlimit"}) {
        if (::access(programPath(program).c_str(), X_OK) != 0) {
            return std::string("--sandbox needs ") + program + ", which is not installed (" +
                   (std::string(program) == "bwrap" ? "Debian's package bubblewrap"
                                                    : "Debian's package util-linux") +
                   "; scripts/setup play installs it)";
        }
    }
    const CommandOutput probe = runCaptured({"true"}, commandSandbox("", "/tmp", {}));
    if (probe.exitCode != 0) {
        return "--sandbox cannot make a sandbox here: " + probe.output;
    }
    return "";
}

std::string workDirProblem(const std::string& dir) {
    const fs::path p = normal(dir, "/");
    if (p == "/" || withinAny(p, kOwn)) {
        return "a sandboxed bot's working folder cannot be " + p.string() +
               ": run it from a folder of your own";
    }
    return "";
}

Sandbox commandSandbox(const std::string& command, const std::string& workDir,
                       const SandboxLimits& limits) {
    Sandbox s{limits, normal(workDir, "/").string(), {}};
    const fs::path work = s.workDir;
    std::vector<fs::path> paths;
    for (const std::string& word : pathWords(command)) {
        const fs::path p = normal(word, work);
        std::error_code ec;
        const fs::file_status status = fs::status(p, ec);
        if (word.empty() || ec || !fs::exists(status)) {
            continue;
        }
        const bool folder = fs::is_directory(status);
        const fs::path bound = folder ? p : p.parent_path();
        if (!within(work, bound)) {
            paths.push_back(bound);
        } else if (!folder) {
            paths.push_back(p);  // in the working folder or above it: the file alone
        }
    }
    for (const std::string& path : limits.readOnly) {
        paths.push_back(normal(path, work));
    }
    for (const fs::path& p : paths) {
        if (p != "/" && !withinAny(p, kSystem) && !withinAny(p, kOwn)) {
            s.readOnly.push_back(p.string());
        }
    }
    std::sort(s.readOnly.begin(), s.readOnly.end());
    s.readOnly.erase(std::unique(s.readOnly.begin(), s.readOnly.end()), s.readOnly.end());
    return s;
}

std::vector<std::string> sandboxedArgv(const Sandbox& s, const std::vector<std::string>& argv,
                                       const std::vector<std::string>& env) {
    std::vector<std::string> args{"bwrap", "--uid", std::to_string(kSandboxUid), "--gid",
                                  std::to_string(kSandboxGid)};
    // Namespaces of its own but the network's, none more inside, and gone when we are.
    args.insert(args.end(), {"--unshare-user", "--unshare-pid", "--unshare-ipc", "--unshare-uts",
                             "--unshare-cgroup-try", "--disable-userns", "--die-with-parent"});
    addSystem(args);
    // No terminal: the bot stays in our session (a session of its own would make it a
    // scheduling group of its own, which takes wake-ups from the arena), so its /dev/tty, our
    // terminal, is covered (nothing can open it: no device on that mount).
    args.insert(args.end(),
                {"--proc", "/proc", "--dev", "/dev", "--ro-bind", "/dev/null", "/dev/tty"});
    addTmpfs(args, "/dev/shm", s.limits.diskMiB);
    args.insert(args.end(), {"--remount-ro", "/dev"});
    addTmpfs(args, "/tmp", s.limits.diskMiB);
    addFiles(args, s);
    args.insert(args.end(),
                {"--chdir", s.workDir, "--clearenv", "--setenv", "PATH", kPath, "--setenv", "HOME",
                 s.workDir, "--setenv", "TMPDIR", "/tmp", "--setenv", "LANG", "C.UTF-8"});
    for (const std::string& entry : env) {
        const std::size_t equals = entry.find('=');
        args.insert(args.end(), {"--setenv", entry.substr(0, equals),
                                 equals == std::string::npos ? "" : entry.substr(equals + 1)});
    }
    args.insert(args.end(), {"--remount-ro", "/", "--"});
    const std::vector<std::string> limits = limitArgs(s.limits);
    args.insert(args.end(), limits.begin(), limits.end());
    args.insert(args.end(), argv.begin(), argv.end());
    return args;
}

void enterOwnNetwork() {
    if (::unshare(CLONE_NEWNET) != 0) {
        throw std::runtime_error(std::string("cannot make a network namespace: ") +
                                 std::strerror(errno));
    }
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = s >= 0 && ::ioctl(s, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP, ::ioctl(s, SIOCSIFFLAGS, &request) == 0);
    const int error = errno;
    if (s >= 0) {
        ::close(s);
    }
    if (!up) {
        throw std::runtime_error(std::string("cannot bring up the loopback interface: ") +
                                 std::strerror(error));
    }
}

pid_t sandboxInit(pid_t pid) {
    std::multimap<pid_t, pid_t> children;
    if (DIR* dir = ::opendir("/proc")) {
        while (const dirent* entry = ::readdir(dir)) {
            if (!isNumber(entry->d_name)) {
                continue;
            }
            const std::vector<std::string> f =
                statFields(std::string("/proc/") + entry->d_name + "/stat");
            if (f.size() > 1) {
                children.emplace(static_cast<pid_t>(std::stol(f[1])),
                                 static_cast<pid_t>(std::atol(entry->d_name)));
            }
        }
        ::closedir(dir);
    }
    const std::string ours = pidNamespace(::getpid());
    std::deque<std::pair<pid_t, int>> todo{{pid, 0}};  // (process, depth)
    while (!todo.empty()) {
        const auto [at, depth] = todo.front();
        todo.pop_front();
        const std::string ns = pidNamespace(at);
        if (!ns.empty() && ns != ours) {
            return at;
        }
        const auto [first, last] = children.equal_range(at);
        for (auto it = first; it != last && depth < 4; ++it) {
            todo.emplace_back(it->second, depth + 1);
        }
    }
    return 0;
}

bool sandboxUsage(pid_t init, SandboxUsage& usage) {
    static const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    static const std::int64_t page = ::sysconf(_SC_PAGESIZE);
    const std::string proc = "/proc/" + std::to_string(init) + "/root/proc/";
    // Until the sandbox is set up, its root is still ours, and so is the /proc found there.
    std::error_code ec;
    const std::string ns = pidNamespace(init);
    if (ns.empty() || fs::read_symlink(proc + "1/ns/pid", ec).string() != ns) {
        return false;
    }
    DIR* dir = ::opendir(proc.c_str());
    if (dir == nullptr) {
        return false;
    }
    usage = SandboxUsage{};
    while (const dirent* entry = ::readdir(dir)) {
        if (!isNumber(entry->d_name)) {
            continue;
        }
        // From field 3 on: utime 14, stime 15, cutime 16, cstime 17, threads 20, rss 24.
        const std::vector<std::string> f = statFields(proc + entry->d_name + "/stat");
        if (f.size() < 22) {
            continue;  // gone meanwhile
        }
        usage.cpuSeconds += static_cast<double>(std::stoll(f[11]) + std::stoll(f[12]) +
                                                std::stoll(f[13]) + std::stoll(f[14])) /
                            tick;
        usage.tasks += static_cast<std::int32_t>(std::stol(f[17]));
        usage.residentBytes += std::stoll(f[21]) * page;
    }
    ::closedir(dir);
    return true;
}

}  // namespace nimbus::util
