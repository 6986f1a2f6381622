#include "arena_client.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

namespace nimbus::arena::testing {

RunningArena::RunningArena(ArenaOptions options) {
    options.port = 0;
    server_ = std::make_unique<ArenaServer>(io_, std::move(options),
                                            [this](const std::string& text, bool) {
                                                std::lock_guard lock(mutex_);
                                                log_.push_back(text);
                                            });
    port_ = server_->port();
    server_->start();
    thread_ = std::thread([this] { io_.run(); });
}

RunningArena::~RunningArena() {
    join();
}

void RunningArena::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::vector<std::string> RunningArena::logLines() {
    std::lock_guard lock(mutex_);
    return log_;
}

bool RunningArena::logContains(const std::string& part) {
    for (const std::string& line : logLines()) {
        if (line.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

ArenaClient::ArenaClient(std::uint16_t port, int receiveBuffer) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) {
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    timeval timeout{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

ArenaClient::~ArenaClient() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool ArenaClient::send(const std::string& text) {
    std::size_t done = 0;
    while (fd_ >= 0 && done < text.size()) {
        const ssize_t n = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return fd_ >= 0;
}

std::optional<std::string> ArenaClient::readLine() {
    while (true) {
        const std::size_t lf = buffered_.find('\n');
        if (lf != std::string::npos) {
            std::string line = buffered_.substr(0, lf);
            buffered_.erase(0, lf + 1);
            return line;
        }
        char chunk[4096];
        const ssize_t n = fd_ >= 0 ? ::recv(fd_, chunk, sizeof chunk, 0) : -1;
        if (n <= 0) {
            return std::nullopt;
        }
        buffered_.append(chunk, static_cast<std::size_t>(n));
    }
}

std::vector<std::string> ArenaClient::readState() {
    std::vector<std::string> lines;
    while (auto line = readLine()) {
        lines.push_back(*line);
        if (*line == "END_STATE") {
            return lines;
        }
    }
    return {};
}

bool ArenaClient::waitForClose() {
    char chunk[65536];
    while (fd_ >= 0) {
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            return errno == ECONNRESET;
        }
    }
    return false;
}

}  // namespace nimbus::arena::testing
