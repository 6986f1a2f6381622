#include "arena/game/replay_stream.hpp"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace nimbus::arena {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

class FileSource : public ReplaySource {
  public:
    explicit FileSource(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {
        if (file_ == nullptr) {
            problem_ = std::string("cannot read: ") + std::strerror(errno);
        }
    }
    ~FileSource() override {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }

  protected:
    long readRaw(std::uint8_t* into, std::size_t n) override {
        if (file_ == nullptr) {
            return -1;
        }
        const std::size_t got = std::fread(into, 1, n, file_);
        if (got == 0 && std::ferror(file_) != 0) {
            problem_ = std::string("cannot read: ") + std::strerror(errno);
            return -1;
        }
        return static_cast<long>(got);
    }

  private:
    std::FILE* file_;
};

class MemorySource : public ReplaySource {
  public:
    MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  protected:
    long readRaw(std::uint8_t* into, std::size_t n) override {
        const std::size_t got = std::min(n, size_ - at_);
        if (got > 0) {
            std::memcpy(into, data_ + at_, got);
        }
        at_ += got;
        return static_cast<long>(got);
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace

struct ReplaySource::Inflater {
    z_stream z{};
    bool open = false;
    std::vector<std::uint8_t> in = std::vector<std::uint8_t>(kChunk);
    ~Inflater() {
        if (open) {
            inflateEnd(&z);
        }
    }
};

ReplaySource::ReplaySource() : inflater_(std::make_unique<Inflater>()) {}
ReplaySource::~ReplaySource() = default;

std::unique_ptr<ReplaySource> ReplaySource::file(const std::string& path) {
    return std::make_unique<FileSource>(path);
}

std::unique_ptr<ReplaySource> ReplaySource::memory(const std::uint8_t* data, std::size_t size) {
    return std::make_unique<MemorySource>(data, size);
}

bool ReplaySource::more() {
    if (ended_) {
        return false;
    }
    Inflater& f = *inflater_;
    if (!started_) {
        started_ = true;
        const long n = readRaw(f.in.data(), 2);
        const long n2 = n == 1 ? readRaw(f.in.data() + 1, 1) : 0;
        const long got = n < 0 || n2 < 0 ? -1 : n + n2;
        if (got < 0) {
            ended_ = damaged_ = true;
            return false;
        }
        gzip_ = got == 2 && f.in[0] == 0x1f && f.in[1] == 0x8b;
        if (gzip_) {
            f.open = inflateInit2(&f.z, 15 + 16) == Z_OK;
            f.z.next_in = f.in.data();
            f.z.avail_in = 2;
        } else {
            pending_.append(reinterpret_cast<const char*>(f.in.data()), static_cast<std::size_t>(got));
            return got > 0 || more();
        }
    }
    if (!gzip_) {
        const std::size_t at = pending_.size();
        pending_.resize(at + kChunk);
        const long n = readRaw(reinterpret_cast<std::uint8_t*>(pending_.data() + at), kChunk);
        pending_.resize(at + static_cast<std::size_t>(std::max(n, 0l)));
        if (n <= 0) {
            ended_ = true;
            damaged_ = n < 0;
        }
        return n > 0;
    }
    // One step of inflation: some text, or the end.
    while (true) {
        if (f.z.avail_in == 0) {
            const long n = readRaw(f.in.data(), f.in.size());
            if (n <= 0) {
                ended_ = true;
                damaged_ = true;  // a gzip stream ends with its trailer, not with the file
                if (n == 0 && problem_.empty()) {
                    problem_ = "the compressed data is cut short";
                }
                return false;
            }
            f.z.next_in = f.in.data();
            f.z.avail_in = static_cast<uInt>(n);
        }
        const std::size_t at = pending_.size();
        pending_.resize(at + kChunk);
        f.z.next_out = reinterpret_cast<Bytef*>(pending_.data() + at);
        f.z.avail_out = kChunk;
        const int rc = inflate(&f.z, Z_NO_FLUSH);
        pending_.resize(at + (kChunk - f.z.avail_out));
        if (rc == Z_STREAM_END) {
            // Another gzip member may follow; anything else ends the text.
            if (f.z.avail_in == 0) {
                const long n = readRaw(f.in.data(), f.in.size());
                if (n <= 0) {
                    ended_ = true;
                    damaged_ = n < 0;
                    return pending_.size() > at;
                }
                f.z.next_in = f.in.data();
                f.z.avail_in = static_cast<uInt>(n);
            }
            if (f.z.next_in[0] != 0x1f) {
                ended_ = damaged_ = true;
                problem_ = "data after the end of the compressed stream";
                return pending_.size() > at;
            }
            inflateReset(&f.z);
        } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
            ended_ = damaged_ = true;
            problem_ = std::string("damaged compressed data") +
                       (f.z.msg != nullptr ? std::string(" (") + f.z.msg + ")" : "");
            return pending_.size() > at;
        }
        if (pending_.size() > at) {
            return true;
        }
    }
}

ReplaySource::Next ReplaySource::nextLine(std::string& line, std::size_t limit) {
    std::size_t searched = consumed_;
    while (true) {
        const std::size_t feed = pending_.find('\n', searched);
        if (feed != std::string::npos) {
            if (feed - consumed_ > limit) {
                return Next::TooLong;
            }
            line.assign(pending_, consumed_, feed - consumed_);
            consumed_ = feed + 1;
            return Next::Line;
        }
        if (pending_.size() - consumed_ > limit) {
            return Next::TooLong;
        }
        searched = pending_.size();
        if (consumed_ > 0) {
            pending_.erase(0, consumed_);
            searched -= consumed_;
            consumed_ = 0;
        }
        if (!more()) {
            return pending_.size() == consumed_ && !damaged_ ? Next::End : Next::Cut;
        }
    }
}

bool ReplaySource::rest(std::string& text, std::size_t limit) {
    pending_.erase(0, consumed_);
    consumed_ = 0;
    while (pending_.size() <= limit && more()) {
    }
    if (pending_.size() > limit || damaged_) {
        return false;
    }
    text = std::move(pending_);
    pending_.clear();
    return true;
}

}  // namespace nimbus::arena
