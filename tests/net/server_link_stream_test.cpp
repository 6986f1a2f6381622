// The buffered line reader against a one-byte reader on seeded random byte streams: the same
// bytes, cut into random TCP segments and ended by a close or a reset, must give the same lines,
// counts, buffer contents, prints and link state to both.
#include "bot/net/server_link.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace nimbus {
namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

// The reference: one recv per byte, nothing kept between reads.
class OneByteReader {
  public:
    explicit OneByteReader(int fd) : fd_(fd) {}
    ~OneByteReader() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool enabled() const { return fd_ >= 0; }

    std::int32_t receiveLine(char* buffer, std::int32_t limit) {
        if (fd_ < 0)
            return 0;
        std::int32_t count = 0;
        while (count < limit) {
            ssize_t got = 0;
            do {
                got = ::recv(fd_, &buffer[count], 1, 0);
            } while (got < 0 && errno == EINTR);
            if (got <= 0) {
                if (got == 0) {
                    std::printf("connection closed while waiting for data\n");
                } else {
                    std::printf("socket recv failed: %ld, disabling socket\n",
                                static_cast<long>(errno));
                }
                ::close(fd_);
                fd_ = -1;
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

  private:
    int fd_;
};

enum class Ending { Close, Reset };

struct Trial {
    std::vector<std::string> segments;  // sent one by one, each after the last was read
    Ending ending = Ending::Close;
    std::uint32_t limitSeed = 0;  // seeds the sequence of read limits
};

// What a reader did: per read the count, the whole buffer and whether the link stayed open,
// then everything it printed.
struct Transcript {
    std::vector<std::int32_t> counts;
    std::vector<std::string> buffers;
    std::vector<bool> open;
    std::string printed;
    std::size_t lines = 0;
};

class Loopback {
  public:
    Loopback() {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(listenFd_, 4), 0);
        socklen_t len = sizeof addr;
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~Loopback() { ::close(listenFd_); }
    std::string portText() const { return std::to_string(port_); }
    int connectRaw() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port_);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        return fd;
    }
    int accept() const { return ::accept(listenFd_, nullptr, nullptr); }

  private:
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
};

// Sends each segment once the reader has taken everything before it, so that every segment
// arrives on its own; then closes or resets the connection.
void feed(int serverFd, int clientFd, const Trial& trial) {
    auto drained = [&] {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        int queued = 1;
        while (::ioctl(clientFd, FIONREAD, &queued) == 0 && queued > 0 &&
               std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::microseconds(20));
    };
    for (const std::string& s : trial.segments) {
        for (std::size_t sent = 0; sent < s.size();) {
            const ssize_t n = ::send(serverFd, s.data() + sent, s.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
        drained();
    }
    if (trial.ending == Ending::Reset) {
        const linger hard{1, 0};
        ::setsockopt(serverFd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    ::close(serverFd);
}

// Reads lines with the trial's limits until the reader is disabled, then once more.
template <typename Reader>
Transcript readAll(Reader& reader, int clientFd, const Loopback& net, const Trial& trial) {
    const int serverFd = net.accept();
    std::thread writer(feed, serverFd, clientFd, std::cref(trial));
    std::mt19937 limits(trial.limitSeed);
    const std::int32_t choices[] = {0, 1, 2, 3, 7, 32, 64, 1025, 1025, 1025};
    Transcript t;
    for (int call = 0; call < 100000; ++call) {
        const bool wasOpen = reader.enabled();
        const std::int32_t limit = choices[limits() % std::size(choices)];
        std::string buffer(static_cast<std::size_t>(limit) + 1, '#');
        t.counts.push_back(reader.receiveLine(buffer.data(), limit));
        t.buffers.push_back(buffer);
        t.open.push_back(reader.enabled());
        t.lines += reader.enabled() ? 1 : 0;
        if (!wasOpen)
            break;
    }
    writer.join();
    return t;
}

std::string randomStream(std::mt19937& rng, std::size_t length) {
    std::string s;
    while (s.size() < length) {
        const std::uint32_t r = rng() % 100;
        if (r < 8) {
            s += '\n';
        } else if (r < 14) {
            s += '\r';
        } else if (r < 15) {
            s += '\0';
        } else if (r < 16) {
            s += static_cast<char>(0xFF);
        } else if (r < 17) {
            s.append(1000 + rng() % 200, 'L');  // beyond the longest limit
        } else {
            s += static_cast<char>('a' + rng() % 26);
        }
    }
    s.resize(length);
    return s;
}

std::vector<std::string> cutIntoSegments(std::mt19937& rng, const std::string& bytes) {
    std::vector<std::string> segments;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t n = (rng() % 4 == 0) ? 1 : 1 + rng() % 700;
        segments.push_back(bytes.substr(at, n));
        at += n;
    }
    return segments;
}

TEST(ServerLinkStream, BufferedReadsMatchOneByteReadsOnRandomStreams) {
    Loopback net;
    std::mt19937 rng(20261208);
    std::vector<Trial> trials;
    // Short streams ended by a close and by a reset at every position...
    for (int stream = 0; stream < 4; ++stream) {
        const std::string bytes = randomStream(rng, 24 + rng() % 24);
        for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
            for (Ending ending : {Ending::Close, Ending::Reset}) {
                trials.push_back({cutIntoSegments(rng, bytes.substr(0, cut)), ending,
                                  static_cast<std::uint32_t>(rng())});
            }
        }
    }
    // ...and long ones (lines past the limits, state-reply sizes) cut anywhere.
    for (int stream = 0; stream < 120; ++stream) {
        const std::string bytes = randomStream(rng, rng() % 9000);
        trials.push_back({cutIntoSegments(rng, bytes),
                          rng() % 2 == 0 ? Ending::Close : Ending::Reset,
                          static_cast<std::uint32_t>(rng())});
    }

    std::size_t reads = 0, lines = 0, bytesSent = 0, resets = 0;
    for (std::size_t i = 0; i < trials.size(); ++i) {
        const Trial& trial = trials[i];
        const int refFd = net.connectRaw();
        OneByteReader reference(refFd);
        CaptureStdout();
        const Transcript want = readAll(reference, refFd, net, trial);
        const std::string wantPrinted = GetCapturedStdout();

        CaptureStdout();
        Transcript got;
        {
            ServerLink link(net.portText().c_str());
            got = readAll(link, link.handle, net, trial);
        }
        const std::string gotPrinted = GetCapturedStdout();

        ASSERT_EQ(gotPrinted, "socket up and running\n" + wantPrinted) << "trial " << i;
        ASSERT_EQ(got.counts, want.counts) << "trial " << i;
        ASSERT_EQ(got.buffers, want.buffers) << "trial " << i;
        ASSERT_EQ(got.open, want.open) << "trial " << i;
        ASSERT_FALSE(want.open.back());
        ASSERT_EQ(want.counts.back(), 0);  // a disabled link reads nothing, silently
        reads += want.counts.size();
        lines += want.lines;
        for (const std::string& s : trial.segments)
            bytesSent += s.size();
        resets += trial.ending == Ending::Reset ? 1 : 0;
    }
    std::printf("%zu streams (%zu ended by a reset), %zu bytes, %zu reads, %zu lines: identical\n",
                trials.size(), resets, bytesSent, reads, lines);
}

}  // namespace
}  // namespace nimbus
