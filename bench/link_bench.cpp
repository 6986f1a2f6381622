// The state read over loopback: "GET_STATE" and the lines of a 100-cloud reply (4 thunderstorms,
// 96 rainclouds, as the arena formats them) up to END_STATE, read by the link's buffered reader
// and by a reader that receives one byte per call, as the link did before.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "arena/game/game.hpp"
#include "bot/net/server_link.hpp"
#include "bot/net/state_request.hpp"

namespace {

using nimbus::ServerLink;

std::string hundredCloudReply() {
    nimbus::arena::GameSettings settings;
    settings.seed = 1;
    settings.players = 4;
    settings.rainclouds = 96;
    const nimbus::arena::Game game(settings);
    std::string reply = "BEGIN_STATE 1234\nYOU 2\n";
    char line[256];
    for (const nimbus::arena::Cloud& c : game.clouds()) {
        const bool storm = c.kind == nimbus::arena::CloudKind::Thunderstorm;
        std::snprintf(line, sizeof line, "%s %f %f %f %f %f\n",
                      storm ? "THUNDERSTORM" : "RAINCLOUD", static_cast<double>(c.state.x),
                      static_cast<double>(c.state.y), static_cast<double>(c.state.vx),
                      static_cast<double>(c.state.vy), static_cast<double>(c.state.mass));
        reply += line;
    }
    return reply + "END_STATE\n";
}

// A loopback server that answers every line it receives with the reply, until the client leaves.
class ReplyServer {
  public:
    explicit ReplyServer(std::string reply) : reply_(std::move(reply)) {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listenFd_, 1);
        socklen_t len = sizeof addr;
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = std::to_string(ntohs(addr.sin_port));
        thread_ = std::thread([this] { serve(); });
    }
    ~ReplyServer() {
        thread_.join();
        ::close(listenFd_);
    }
    const char* port() const { return port_.c_str(); }
    std::size_t replySize() const { return reply_.size(); }

  private:
    void serve() {
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        char in[256];
        for (;;) {
            const ssize_t n = ::recv(fd, in, sizeof in, 0);
            if (n <= 0)
                break;
            for (ssize_t i = 0; i < n; ++i) {
                if (in[i] != '\n')
                    continue;
                for (std::size_t sent = 0; sent < reply_.size();) {
                    const ssize_t m = ::send(fd, reply_.data() + sent, reply_.size() - sent,
                                             MSG_NOSIGNAL);
                    if (m <= 0)
                        break;
                    sent += static_cast<std::size_t>(m);
                }
            }
        }
        ::close(fd);
    }

    std::string reply_;
    int listenFd_ = -1;
    std::string port_;
    std::thread thread_;
};

// The one-byte reader the link used to have: one recv per byte, nothing kept between reads.
std::int32_t receiveLineOneByte(int fd, char* buffer, std::int32_t limit) {
    std::int32_t count = 0;
    while (count < limit) {
        if (::recv(fd, &buffer[count], 1, 0) <= 0) {
            buffer[0] = '\0';
            return 0;
        }
        if (buffer[count] == '\n') {
            buffer[count] = '\0';
            return count;
        }
        if (buffer[count] != '\r')
            ++count;
    }
    buffer[count] = '\0';
    return count;
}

template <typename ReadLine>
void readStates(benchmark::State& state, ServerLink& link, std::size_t replySize,
                ReadLine readLine) {
    char line[nimbus::kStateLineLimit + 1];
    std::int64_t lines = 0;
    for (auto _ : state) {
        link.sendText("GET_STATE\n", 10);
        for (;;) {
            const std::int32_t n = readLine(line);
            ++lines;
            if (n == 0 && !link.enabled()) {
                state.SkipWithError("link closed");
                return;
            }
            if (std::strcmp(line, "END_STATE") == 0)
                break;
        }
    }
    state.counters["lines_per_reply"] =
        static_cast<double>(lines) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(replySize));
}

void BM_StateRead100CloudsOneByte(benchmark::State& state) {
    ReplyServer server(hundredCloudReply());
    ServerLink link(server.port());
    readStates(state, link, server.replySize(), [&](char* line) {
        return receiveLineOneByte(link.handle, line, nimbus::kStateLineLimit);
    });
}

void BM_StateRead100CloudsBuffered(benchmark::State& state) {
    ReplyServer server(hundredCloudReply());
    ServerLink link(server.port());
    readStates(state, link, server.replySize(), [&](char* line) {
        return link.receiveLine(line, nimbus::kStateLineLimit);
    });
}

// The whole state request of the bot, parsing included, through the buffered reader.
void BM_StateRequest100Clouds(benchmark::State& state) {
    ReplyServer server(hundredCloudReply());
    ServerLink link(server.port());
    nimbus::WorldSnapshot snapshot;
    for (auto _ : state) {
        nimbus::refreshState(link, snapshot);
        benchmark::DoNotOptimize(snapshot.rainclouds.size());
    }
    if (snapshot.rainclouds.size() != 96)
        state.SkipWithError("reply not parsed");
}

BENCHMARK(BM_StateRead100CloudsOneByte)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StateRead100CloudsBuffered)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StateRequest100Clouds)->Unit(benchmark::kMicrosecond);

}  // namespace
