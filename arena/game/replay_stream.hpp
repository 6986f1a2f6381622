#pragma once
// A replay file's text read in pieces, gzip-compressed or plain (told by its first bytes), and
// split into lines, so that reading a replay takes memory for one line, not for the file.
// A gzip stream that is cut short or damaged ends the text where the good data ends: what came
// before stays readable (a replay whose arena was killed is such a file).
#include <cstdint>
#include <memory>
#include <string>

namespace nimbus::arena {

class ReplaySource {
  public:
    enum class Next {
        Line,     // a whole line (the line feed removed)
        End,      // the text ended after its last line feed (or was empty)
        Cut,      // the text ends inside a line, or the compressed data is cut or damaged
        TooLong,  // a line longer than the limit
    };

    // A file opened now; problem() says why when it cannot be read.
    static std::unique_ptr<ReplaySource> file(const std::string& path);
    // Bytes in memory, not copied: they must outlive the source.
    static std::unique_ptr<ReplaySource> memory(const std::uint8_t* data, std::size_t size);

    virtual ~ReplaySource();

    // The next line, of at most `limit` bytes.
    Next nextLine(std::string& line, std::size_t limit);
    // The rest of the text whole, at most `limit` bytes; false when longer, cut or damaged.
    bool rest(std::string& text, std::size_t limit);
    // Why the text ended early (damaged data, a read error, a file that could not be opened).
    const std::string& problem() const { return problem_; }
    bool compressed() const { return gzip_; }

  protected:
    ReplaySource();
    // Up to n raw bytes of the file; 0 at its end, -1 on an error (with problem_ set).
    virtual long readRaw(std::uint8_t* into, std::size_t n) = 0;
    std::string problem_;

  private:
    // Appends more text to pending_; false at the end of the text (clean or not).
    bool more();

    struct Inflater;
    std::unique_ptr<Inflater> inflater_;
    bool started_ = false;
    bool gzip_ = false;
    bool ended_ = false;
    bool damaged_ = false;
    std::string pending_;      // text not yet handed out
    std::size_t consumed_ = 0;  // of pending_
};

}  // namespace nimbus::arena
