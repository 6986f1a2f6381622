#pragma once
// A replay file's text read in pieces, gzip-compressed or plain (told by its first bytes), and
// split into lines, so that reading a replay takes memory for one line, not for the file.
// The text ends in one of three ways: cleanly (the file ends after its last whole gzip member),
// cut short (the file ends inside a member: what a killed arena leaves), or damaged (a member
// fails its checks, names a wrong length, or is followed by bytes that are no gzip member). What
// came before a cut or damage stays readable; problem() says where it happened.
#include <cstdint>
#include <memory>
#include <string>

namespace nimbus::arena {

class ReplaySource {
  public:
    enum class Next {
        Line,     // a whole line (the line feed removed)
        End,      // the text ended cleanly after its last line feed (or was empty)
        Cut,      // the text ends inside a line, or the compressed data is cut short
        TooLong,  // a line longer than the limit
        Damaged,  // the data is damaged here (problem() says where); nothing after it is read
    };

    // A file opened now; problem() says why when it cannot be read. name() is the path.
    static std::unique_ptr<ReplaySource> file(const std::string& path);
    // Bytes in memory, not copied: they must outlive the source. `name` stands for a file name.
    static std::unique_ptr<ReplaySource> memory(const std::uint8_t* data, std::size_t size,
                                                const std::string& name = {});

    virtual ~ReplaySource();

    // The next line, of at most `limit` bytes (the text read for it stays buffered on TooLong).
    Next nextLine(std::string& line, std::size_t limit);
    // The text not yet handed out, in pieces (the first may hold what nextLine buffered):
    // false, with `piece` empty, at the end of the text; ending() then says how it ended.
    bool nextPiece(std::string& piece);
    // Whether the data is damaged before the end of the current gzip member (at most `limit` more
    // bytes of text are read for it, then dropped: nothing can be read after this call); problem()
    // then says where. Text that reads wrongly may be the work of damage found only at the
    // member's end, by its check. Always false for plain text, which has no checks.
    bool damagedAhead(std::size_t limit);
    // How the text ended (End, Cut or Damaged), once a read said it did; Line before.
    Next ending() const { return ending_; }
    // Why the text ended early (damaged or cut data and where, a read error, a file that could
    // not be opened); empty after a clean end.
    const std::string& problem() const { return problem_; }
    bool compressed() const { return gzip_; }
    const std::string& name() const { return name_; }

  protected:
    ReplaySource();
    // Up to n raw bytes of the file; 0 at its end, -1 on an error (with problem_ set).
    virtual long readRaw(std::uint8_t* into, std::size_t n) = 0;
    std::string problem_;
    std::string name_;

  private:
    // Appends more text to pending_; false at the end of the text (clean or not).
    bool more();
    void start();
    bool readPlain();
    bool inflateMore();
    // Reads raw bytes for the inflater; false (the text ended) at the file's end or an error.
    bool feed(bool betweenMembers);
    // The member that just ended is whole and names its length rightly; false when not.
    bool memberChecks();
    void end(Next how, const std::string& why = {});
    std::string where() const;

    struct Inflater;
    std::unique_ptr<Inflater> inflater_;
    bool started_ = false;
    bool gzip_ = false;
    Next ending_ = Next::Line;
    std::string pending_;       // text not yet handed out
    std::size_t consumed_ = 0;  // of pending_
    std::uint64_t rawRead_ = 0;      // bytes of the file read so far
    std::uint64_t memberStart_ = 0;  // where the current gzip member starts in the file
    std::uint64_t member_ = 1;       // the current member, counted from 1
};

}  // namespace nimbus::arena
