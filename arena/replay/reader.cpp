#include "arena/replay/reader.hpp"

#include <zlib.h>

#include <algorithm>
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
    gz_header header{};
    std::uint8_t extra[64] = {};  // the start of a member's extra field, for its "NL" subfield
    bool open = false;
    std::vector<std::uint8_t> in = std::vector<std::uint8_t>(kChunk);
    ~Inflater() {
        if (open) {
            inflateEnd(&z);
        }
    }
    // Ready for a member's header.
    void expectHeader() {
        header = {};
        header.extra = extra;
        header.extra_max = sizeof extra;
        inflateGetHeader(&z, &header);
    }
};

ReplaySource::ReplaySource() : inflater_(std::make_unique<Inflater>()) {}
ReplaySource::~ReplaySource() = default;

std::unique_ptr<ReplaySource> ReplaySource::file(const std::string& path) {
    auto source = std::make_unique<FileSource>(path);
    source->name_ = path;
    return source;
}

std::unique_ptr<ReplaySource> ReplaySource::memory(const std::uint8_t* data, std::size_t size,
                                                   const std::string& name) {
    auto source = std::make_unique<MemorySource>(data, size);
    source->name_ = name;
    return source;
}

void ReplaySource::end(Next how, const std::string& why) {
    ending_ = how;
    if (problem_.empty()) {
        problem_ = why;
    }
}

std::string ReplaySource::where() const {
    const std::uint64_t at = rawRead_ - inflater_->z.avail_in;
    return "at byte " + std::to_string(at) + " (gzip member " + std::to_string(member_) +
           ", from byte " + std::to_string(memberStart_) + ")";
}

void ReplaySource::start() {
    started_ = true;
    Inflater& f = *inflater_;
    long got = 0;
    while (got < 2) {
        const long n = readRaw(f.in.data() + got, static_cast<std::size_t>(2 - got));
        if (n < 0) {
            end(Next::Damaged);
            return;
        }
        if (n == 0) {
            break;
        }
        got += n;
    }
    rawRead_ = static_cast<std::uint64_t>(got);
    gzip_ = got == 2 && f.in[0] == 0x1f && f.in[1] == 0x8b;
    if (!gzip_) {
        pending_.append(reinterpret_cast<const char*>(f.in.data()), static_cast<std::size_t>(got));
        return;
    }
    f.open = inflateInit2(&f.z, 15 + 16) == Z_OK;
    if (!f.open) {
        end(Next::Damaged, "cannot start the decompression");
        return;
    }
    f.expectHeader();
    f.z.next_in = f.in.data();
    f.z.avail_in = 2;
}

bool ReplaySource::more() {
    if (ending_ != Next::Line) {
        return false;
    }
    const std::size_t before = pending_.size();
    if (!started_) {
        start();
        if (ending_ != Next::Line) {
            return false;
        }
        if (!gzip_ && pending_.size() > before) {
            return true;
        }
    }
    return gzip_ ? inflateMore() : readPlain();
}

bool ReplaySource::readPlain() {
    const std::size_t at = pending_.size();
    pending_.resize(at + kChunk);
    const long n = readRaw(reinterpret_cast<std::uint8_t*>(pending_.data() + at), kChunk);
    pending_.resize(at + static_cast<std::size_t>(std::max(n, 0l)));
    if (n <= 0) {
        end(n == 0 ? Next::End : Next::Damaged);
        return false;
    }
    rawRead_ += static_cast<std::uint64_t>(n);
    return true;
}

bool ReplaySource::feed(bool betweenMembers) {
    Inflater& f = *inflater_;
    const long n = readRaw(f.in.data(), f.in.size());
    if (n < 0) {
        end(Next::Damaged);
        return false;
    }
    if (n == 0) {
        if (betweenMembers) {
            end(Next::End);
        } else {
            end(Next::Cut, "the compressed data is cut short " + where());
        }
        return false;
    }
    rawRead_ += static_cast<std::uint64_t>(n);
    f.z.next_in = f.in.data();
    f.z.avail_in = static_cast<uInt>(n);
    return true;
}

bool ReplaySource::memberChecks() {
    const Inflater& f = *inflater_;
    const gz_header& h = f.header;
    if (h.done == 1 && h.extra != Z_NULL) {
        // Subfields: two id bytes, a 2-byte little-endian length, the data.
        const std::size_t size = std::min<std::size_t>(h.extra_len, sizeof f.extra);
        for (std::size_t at = 0; at + 4 <= size;) {
            const std::size_t length = f.extra[at + 2] | (f.extra[at + 3] << 8);
            if (f.extra[at] == 'N' && f.extra[at + 1] == 'L' && length == 4 && at + 8 <= size) {
                const std::uint64_t named = f.extra[at + 4] | (f.extra[at + 5] << 8) |
                                            (f.extra[at + 6] << 16) |
                                            (static_cast<std::uint64_t>(f.extra[at + 7]) << 24);
                if (named != f.z.total_in) {
                    end(Next::Damaged, "gzip member " + std::to_string(member_) + " (from byte " +
                                           std::to_string(memberStart_) + ") names its length as " +
                                           std::to_string(named) + " bytes but has " +
                                           std::to_string(f.z.total_in));
                    return false;
                }
            }
            at += 4 + length;
        }
    }
    return true;
}

bool ReplaySource::inflateMore() {
    Inflater& f = *inflater_;
    while (true) {
        if (f.z.avail_in == 0 && !feed(false)) {
            return false;
        }
        const std::size_t at = pending_.size();
        pending_.resize(at + kChunk);
        f.z.next_out = reinterpret_cast<Bytef*>(pending_.data() + at);
        f.z.avail_out = kChunk;
        const int rc = inflate(&f.z, Z_NO_FLUSH);
        pending_.resize(at + (kChunk - f.z.avail_out));
        const bool produced = pending_.size() > at;
        if (rc == Z_STREAM_END) {
            // Another whole gzip member may follow; anything else is damage.
            if (!memberChecks()) {
                return produced;
            }
            memberStart_ += f.z.total_in;
            if (f.z.avail_in == 0 && !feed(true)) {
                return produced;
            }
            if (f.z.next_in[0] != 0x1f) {
                end(Next::Damaged, "bytes that are no gzip member at byte " +
                                       std::to_string(memberStart_) + ", after gzip member " +
                                       std::to_string(member_));
                return produced;
            }
            ++member_;
            inflateReset(&f.z);
            f.expectHeader();
        } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
            end(Next::Damaged, std::string("damaged compressed data ") + where() +
                                   (f.z.msg != nullptr ? std::string(": ") + f.z.msg : ""));
            return produced;
        }
        if (produced) {
            return true;
        }
    }
}

ReplaySource::Next ReplaySource::nextLine(std::string& line, std::size_t limit) {
    std::size_t searched = consumed_;
    while (true) {
        const std::size_t newline = pending_.find('\n', searched);
        if (newline != std::string::npos) {
            if (newline - consumed_ > limit) {
                return Next::TooLong;
            }
            line.assign(pending_, consumed_, newline - consumed_);
            consumed_ = newline + 1;
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
            if (ending_ == Next::End && pending_.size() > consumed_) {
                return Next::Cut;  // the text ends inside a line
            }
            return ending_;
        }
    }
}

bool ReplaySource::nextPiece(std::string& piece) {
    piece.clear();
    if (consumed_ == pending_.size()) {
        pending_.clear();
        consumed_ = 0;
        if (!more()) {
            return false;
        }
    }
    piece.assign(pending_, consumed_);
    pending_.clear();
    consumed_ = 0;
    return true;
}

bool ReplaySource::damagedAhead(std::size_t limit) {
    if (!gzip_) {
        return ending_ == Next::Damaged;
    }
    const std::uint64_t member = member_;
    std::size_t read = pending_.size() - consumed_;
    while (ending_ == Next::Line && member_ == member && read <= limit) {
        pending_.clear();
        consumed_ = 0;
        more();
        read += pending_.size();
    }
    pending_.clear();
    consumed_ = 0;
    return ending_ == Next::Damaged;
}

}  // namespace nimbus::arena
