#include "arena/replay/writer.hpp"

#include <fcntl.h>
#include <libdeflate.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
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
    std::atomic<bool> failed{false};
    std::thread thread;

    // `cutBack`: on a failed write, the file is cut back to its last whole member.
    void run(int fd, const std::string& name, bool cutBack) {
        const Compressor compressor;
        std::vector<std::uint8_t> out;
        off_t whole = 0;  // bytes of the members written whole
        while (true) {
            std::string piece;
            bool skip = false;
            {
                std::unique_lock<std::mutex> lock(mutex);
                queued.wait(lock, [this] { return !queue.empty() || closing; });
                if (queue.empty()) {
                    return;
                }
                piece = std::move(queue.front());
                skip = !why.empty();
            }
            std::string problem;
            if (!skip) {
                out.clear();
                if (!appendMember(compressor.c, piece, out)) {
                    problem = "the compression failed";
                } else if (const util::FileError e =
                               util::writeAll(fd, out.data(), out.size(), name);
                           e.failed()) {
                    problem = e.message;
                    if (cutBack) {
                        [[maybe_unused]] const int ignored = ::ftruncate(fd, whole);
                    }
                } else {
                    whole += static_cast<off_t>(out.size());
                }
            }
            std::lock_guard<std::mutex> lock(mutex);
            if (why.empty() && !problem.empty()) {
                why = problem;
                failed = true;
            }
            queue.pop_front();
            piece.clear();
            spare.push_back(std::move(piece));
            taken.notify_all();
        }
    }
};

std::string partialPath(const std::string& path) {
    return path + ".partial";
}

std::unique_ptr<ReplayFile> ReplayFile::create(const std::string& path, util::FileError& error,
                                               const util::KeepWaiting& keepWaiting) {
    const util::OpenedFile file = util::writtenInPlace(path) ? util::openInPlace(path, keepWaiting)
                                                             : util::createNew(partialPath(path));
    if (file.fd < 0) {
        error = file.error;
        return nullptr;
    }
    const std::string temp = file.path == path ? std::string() : file.path;
    return std::unique_ptr<ReplayFile>(new ReplayFile(path, temp, file.fd));
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
    writer_->thread = std::thread(&Writer::run, writer_.get(), fd_, where(), !temp_.empty());
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

bool ReplayFile::failed() const {
    return writer_->failed;
}

std::string ReplayFile::finish() {
    handOver();
    stopWriter();
    const int fd = fd_;
    fd_ = -1;
    if (!writer_->why.empty()) {
        ::close(fd);
        return writer_->why;
    }
    if (temp_.empty()) {
        if (::close(fd) == 0) {
            return "";
        }
        const int code = errno;
        return "cannot close " + path_ + ": " + std::strerror(code);
    }
    return util::commit(fd, temp_, path_).message;
}

}  // namespace nimbus::arena
