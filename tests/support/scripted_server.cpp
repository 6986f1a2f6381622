#include "tests/support/scripted_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace nimbus::testing {

std::optional<std::string> ScriptedConnection::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto lf = pending_.find('\n');
        if (lf != std::string::npos) {
            std::string line = pending_.substr(0, lf);
            pending_.erase(0, lf + 1);
            return line;
        }
        if (fd_ < 0)
            return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return std::nullopt;
        pending_.append(buf, static_cast<size_t>(n));
        std::lock_guard lock(recordMutex_);
        record_.append(buf, static_cast<size_t>(n));
    }
}

bool ScriptedConnection::send(const std::string& bytes) {
    if (fd_ < 0)
        return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void ScriptedConnection::close() {
    if (fd_ < 0)
        return;
    // Keep what the client sent before the close in the record.
    char buf[4096];
    ::shutdown(fd_, SHUT_WR);
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0)
            break;
        const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0)
            break;
        std::lock_guard lock(recordMutex_);
        record_.append(buf, static_cast<size_t>(n));
    }
    ::close(fd_);
    fd_ = -1;
}

void ScriptedConnection::reset() {
    if (fd_ < 0)
        return;
    const linger hard{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd_);
    fd_ = -1;
}

ScriptedServer::ScriptedServer(Script script, std::uint16_t port) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        throw std::runtime_error("test server: socket failed");
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 4) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("test server: cannot listen on port " + std::to_string(port));
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this, s = std::move(script)]() mutable { serve(std::move(s)); });
}

void ScriptedServer::serve(Script script) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0)
        return;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    accepted_ = true;
    ScriptedConnection connection(fd, record_, recordMutex_);
    script(connection);
    connection.close();
}

void ScriptedServer::join() {
    if (thread_.joinable())
        thread_.join();
}

ScriptedServer::~ScriptedServer() {
    join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

std::string ScriptedServer::received() const {
    std::lock_guard lock(recordMutex_);
    return record_;
}

}  // namespace nimbus::testing
