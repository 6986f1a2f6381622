#include "arena/server/replay_file.hpp"

#include <fcntl.h>
#include <libdeflate.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace nimbus::arena {

namespace {

// libdeflate's level 5: on replays (many short numbers whose leading digits repeat) as small as
// zlib's level 5 with its filtered strategy, and about 2.5 times as fast.
constexpr int kLevel = 5;
constexpr std::size_t kHeader = 20;  // 10 bytes, XLEN, and the "NL" field of 4 bytes
constexpr std::size_t kTrailer = 8;  // CRC-32 and length

std::string failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool isSpecial(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

void putLittle32(std::uint8_t* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

struct Compressor {
    libdeflate_compressor* c = libdeflate_alloc_compressor(kLevel);
    ~Compressor() { libdeflate_free_compressor(c); }
};

// `text` as one gzip member whose header names, in an extra field "NL" of 4 bytes, the member's
// whole length (little-endian), appended to `out`; false when the compressor failed.
bool appendMember(libdeflate_compressor* c, std::string_view text, std::vector<std::uint8_t>& out) {
    if (c == nullptr) {
        return false;
    }
    const std::size_t at = out.size();
    out.resize(at + kHeader + libdeflate_deflate_compress_bound(c, text.size()) + kTrailer);
    std::uint8_t* m = out.data() + at;
    // Magic, deflate, FEXTRA, no time, no flags, Unix; XLEN 8; "NL", 4 bytes: the member's length.
    const std::uint8_t head[12] = {0x1f, 0x8b, 8, 4, 0, 0, 0, 0, 0, 3, 8, 0};
    std::memcpy(m, head, sizeof head);
    m[12] = 'N';
    m[13] = 'L';
    m[14] = 4;
    m[15] = 0;
    const std::size_t packed = libdeflate_deflate_compress(c, text.data(), text.size(), m + kHeader,
                                                           out.size() - at - kHeader - kTrailer);
    if (packed == 0) {
        out.resize(at);
        return false;
    }
    const std::size_t length = kHeader + packed + kTrailer;
    putLittle32(m + 16, static_cast<std::uint32_t>(length));
    putLittle32(m + kHeader + packed, libdeflate_crc32(0, text.data(), text.size()));
    putLittle32(m + kHeader + packed + 4, static_cast<std::uint32_t>(text.size()));
    out.resize(at + length);
    return true;
}

}  // namespace

// The compressing thread and the pieces queued for it.
struct ReplayFile::Writer {
    std::mutex mutex;
    std::condition_variable queued;  // a piece was queued, or the file is closing
    std::condition_variable taken;   // a piece was written: room in the queue
    std::deque<std::string> queue;
    std::vector<std::string> spare;  // written pieces' buffers, to be filled again
    bool closing = false;
    std::string why;  // the first failure
    std::thread thread;

    void run(int fd, const std::string& name) {
        const Compressor compressor;
        std::vector<std::uint8_t> out;
        while (true) {
            std::string piece;
            bool failed = false;
            {
                std::unique_lock<std::mutex> lock(mutex);
                queued.wait(lock, [this] { return !queue.empty() || closing; });
                if (queue.empty()) {
                    return;
                }
                piece = std::move(queue.front());
                failed = !why.empty();
            }
            std::string problem;
            if (!failed) {
                out.clear();
                problem = appendMember(compressor.c, piece, out) ? writeAll(fd, out, name)
                                                                 : "the compression failed";
            }
            std::lock_guard<std::mutex> lock(mutex);
            if (why.empty()) {
                why = problem;
            }
            queue.pop_front();
            piece.clear();
            spare.push_back(std::move(piece));
            taken.notify_all();
        }
    }

    static std::string writeAll(int fd, const std::vector<std::uint8_t>& bytes,
                                const std::string& name) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return failure("cannot write " + name);
            }
            done += static_cast<std::size_t>(n);
        }
        return "";
    }
};

std::string partialPath(const std::string& path) {
    return path + ".partial";
}

std::unique_ptr<ReplayFile> ReplayFile::create(const std::string& path, std::string& why) {
    const bool inPlace = isSpecial(path);
    const std::string temp = inPlace ? std::string() : partialPath(path);
    int fd = -1;
    do {  // opening a FIFO waits for its reader, and a signal may come meanwhile
        fd = inPlace ? ::open(path.c_str(), O_WRONLY | O_CLOEXEC)
                     : ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        why = failure("cannot create " + (inPlace ? path : temp));
        return nullptr;
    }
    return std::unique_ptr<ReplayFile>(new ReplayFile(path, temp, fd));
}

ReplayFile::ReplayFile(std::string path, std::string temp, int fd)
    : writer_(std::make_unique<Writer>()),
      path_(std::move(path)),
      temp_(std::move(temp)),
      fd_(fd),
      lastFlush_(std::chrono::steady_clock::now()) {
    piece_.reserve(kReplayPiece + kReplayPiece / 4);
    // The thread takes no signal: they stay with the thread that runs the game.
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    writer_->thread = std::thread(&Writer::run, writer_.get(), fd_, temp_.empty() ? path_ : temp_);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

ReplayFile::~ReplayFile() {
    handOver();
    stopWriter();
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void ReplayFile::handOver() {
    if (piece_.empty() || !writer_->thread.joinable()) {
        return;
    }
    std::unique_lock<std::mutex> lock(writer_->mutex);
    writer_->taken.wait(lock, [this] { return writer_->queue.size() < kReplayQueued; });
    std::string next;
    if (!writer_->spare.empty()) {
        next = std::move(writer_->spare.back());
        writer_->spare.pop_back();
    }
    writer_->queue.push_back(std::move(piece_));
    writer_->queued.notify_one();
    lock.unlock();
    piece_ = std::move(next);
    piece_.reserve(kReplayPiece + kReplayPiece / 4);
}

void ReplayFile::stopWriter() {
    if (!writer_->thread.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(writer_->mutex);
        writer_->closing = true;
        writer_->queued.notify_one();
    }
    writer_->thread.join();
}

void ReplayFile::append(std::string_view text) {
    piece_.append(text);
    if (piece_.size() >= kReplayPiece) {
        handOver();
    }
}

void ReplayFile::flushIfDue() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastFlush_ < kReplayFlushEvery) {
        return;
    }
    lastFlush_ = now;
    handOver();
}

std::string ReplayFile::finish() {
    handOver();
    stopWriter();
    std::string why = writer_->why;
    if (why.empty() && !temp_.empty() && ::fsync(fd_) != 0) {
        why = failure("cannot flush " + temp_);
    }
    if (::close(fd_) != 0 && why.empty()) {
        why = failure("cannot close " + (temp_.empty() ? path_ : temp_));
    }
    fd_ = -1;
    if (why.empty() && !temp_.empty() && ::rename(temp_.c_str(), path_.c_str()) != 0) {
        why = failure("cannot rename " + temp_ + " to " + path_);
    }
    return why;
}

}  // namespace nimbus::arena
