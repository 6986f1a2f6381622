#include "tests/support/scripted_server.hpp"

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
        if (socket_ == kNoSocket)
            return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        if (!waitReadable(socket_, left))
            continue;
        char buf[4096];
        const long n = platform::receiveBytes(socket_, buf, sizeof buf);
        if (n <= 0)
            return std::nullopt;
        pending_.append(buf, static_cast<size_t>(n));
        std::lock_guard lock(recordMutex_);
        record_.append(buf, static_cast<size_t>(n));
    }
}

bool ScriptedConnection::send(const std::string& bytes) {
    return socket_ != kNoSocket && sendAll(socket_, bytes.data(), bytes.size());
}

void ScriptedConnection::close() {
    if (socket_ == kNoSocket)
        return;
    // Keep what the client sent before the close in the record.
    char buf[4096];
    shutdownSending(socket_);
    while (waitReadable(socket_, std::chrono::milliseconds(0))) {
        const long n = platform::receiveBytes(socket_, buf, sizeof buf);
        if (n <= 0)
            break;
        std::lock_guard lock(recordMutex_);
        record_.append(buf, static_cast<size_t>(n));
    }
    platform::closeSocket(socket_);
    socket_ = kNoSocket;
}

void ScriptedConnection::reset() {
    if (socket_ == kNoSocket)
        return;
    closeWithReset(socket_);
    socket_ = kNoSocket;
}

ScriptedServer::ScriptedServer(Script script, std::uint16_t port) {
    listener_ = listenOnLoopback(port, port_);
    if (listener_ == kNoSocket)
        throw std::runtime_error("test server: cannot listen on port " + std::to_string(port));
    thread_ = std::thread([this, s = std::move(script)]() mutable { serve(std::move(s)); });
}

void ScriptedServer::serve(Script script) {
    if (!waitReadable(listener_, std::chrono::seconds(20)))
        return;
    const SocketHandle client = acceptClient(listener_);
    if (client == kNoSocket)
        return;
    accepted_ = true;
    ScriptedConnection connection(client, record_, recordMutex_);
    script(connection);
    connection.close();
}

void ScriptedServer::join() {
    if (thread_.joinable())
        thread_.join();
}

ScriptedServer::~ScriptedServer() {
    join();
    if (listener_ != kNoSocket)
        platform::closeSocket(listener_);
}

std::string ScriptedServer::received() const {
    std::lock_guard lock(recordMutex_);
    return record_;
}

}  // namespace nimbus::testing
