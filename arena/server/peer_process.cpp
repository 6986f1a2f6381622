#include "arena/server/peer_process.hpp"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace nimbus::arena {

namespace {

// The endpoint as /proc/net/tcp prints it: the 32-bit address as stored, in hex, and the port.
std::string procText(const Endpoint4& e) {
    std::uint32_t raw = 0;
    std::memcpy(&raw, e.address, sizeof raw);
    char text[16];
    std::snprintf(text, sizeof text, "%08X:%04X", raw, e.port);
    return text;
}

bool isNumber(const char* name) {
    if (*name == '\0') {
        return false;
    }
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return false;
        }
    }
    return true;
}

// Parent and process group of a process from /proc/<pid>/stat; false when it has gone.
bool parentAndGroup(pid_t pid, pid_t& parent, pid_t& group) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text)) {
        return false;
    }
    // "pid (comm) state ppid pgrp ...": comm may hold spaces and parentheses; the last ')' ends it.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    std::istringstream rest(text.substr(close + 1));
    char state = 0;
    long ppid = 0;
    long pgrp = 0;
    if (!(rest >> state >> ppid >> pgrp)) {
        return false;
    }
    parent = static_cast<pid_t>(ppid);
    group = static_cast<pid_t>(pgrp);
    return true;
}

}  // namespace

std::optional<std::uint64_t> socketInode(const Endpoint4& local, const Endpoint4& remote) {
    std::ifstream in("/proc/net/tcp");
    const std::string wantLocal = procText(local);
    const std::string wantRemote = procText(remote);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, from, to, state, queues, timer, retransmits, uid, timeout;
        std::uint64_t inode = 0;
        if (fields >> slot >> from >> to >> state >> queues >> timer >> retransmits >> uid >>
                timeout >> inode &&
            from == wantLocal && to == wantRemote) {
            return inode;
        }
    }
    return std::nullopt;
}

std::vector<std::pair<std::size_t, pid_t>> processFamilies(const std::vector<pid_t>& roots) {
    std::map<pid_t, std::pair<pid_t, pid_t>> table;  // pid -> (parent, group)
    if (DIR* dir = ::opendir("/proc")) {
        while (const dirent* entry = ::readdir(dir)) {
            if (!isNumber(entry->d_name)) {
                continue;
            }
            const auto pid = static_cast<pid_t>(std::atol(entry->d_name));
            pid_t parent = 0;
            pid_t group = 0;
            if (parentAndGroup(pid, parent, group)) {
                table[pid] = {parent, group};
            }
        }
        ::closedir(dir);
    }
    std::vector<std::pair<std::size_t, pid_t>> out;
    for (const auto& [pid, info] : table) {
        // Walk up the parents (bounded: a cycle cannot occur, but the table is a snapshot).
        pid_t at = pid;
        for (int depth = 0; depth < 64 && at > 1; ++depth) {
            bool claimed = false;
            for (std::size_t r = 0; r < roots.size(); ++r) {
                const auto found = table.find(at);
                const pid_t group = found != table.end() ? found->second.second : 0;
                if (roots[r] > 0 && (at == roots[r] || group == roots[r])) {
                    out.emplace_back(r, pid);
                    claimed = true;
                    break;
                }
            }
            const auto found = table.find(at);
            if (claimed || found == table.end()) {
                break;
            }
            at = found->second.first;
        }
    }
    return out;
}

bool holdsSocket(pid_t pid, std::uint64_t inode) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return false;
    }
    const std::string want = "socket:[" + std::to_string(inode) + "]";
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (!isNumber(entry->d_name)) {
            continue;
        }
        char target[64];
        const std::string path = folder + "/" + entry->d_name;
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n > 0 && want.compare(0, std::string::npos, target, static_cast<std::size_t>(n)) == 0) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

}  // namespace nimbus::arena
