#pragma once
// Which process is at the other end of a loopback connection (Linux): the connection's socket
// inode from /proc/net/tcp, then the processes holding that inode among their descriptors in
// /proc/<pid>/fd. Used to give the seat of a started bot only to that bot.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace nimbus::arena {

// An IPv4 TCP endpoint: the address in network byte order as four bytes, and the port.
struct Endpoint4 {
    std::uint8_t address[4] = {0, 0, 0, 0};
    std::uint16_t port = 0;
};

// The inode of the socket whose local end is `local` and remote end is `remote`, as listed in
// /proc/net/tcp (so the client's socket of a connection the arena accepted: local = the client's
// end, remote = the arena's end). Nothing when no such connection is listed.
std::optional<std::uint64_t> socketInode(const Endpoint4& local, const Endpoint4& remote);

// The processes in the families of `roots` (each root, its descendants, and the members of its
// process group), as pairs (root index, pid); a process is listed under the first root that
// claims it.
std::vector<std::pair<std::size_t, pid_t>> processFamilies(const std::vector<pid_t>& roots);

// Whether process pid holds a descriptor for the socket with this inode.
bool holdsSocket(pid_t pid, std::uint64_t inode);

}  // namespace nimbus::arena
