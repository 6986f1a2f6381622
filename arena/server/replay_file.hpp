#pragma once
// The replay file while the game runs: gzip-compressed lines written to PATH.partial, handed to
// the file at least every kReplayFlushEvery (so the .partial file of a killed arena is a readable
// replay of every tick but the last moments), and at the end finished, flushed to disk and renamed
// to PATH. A path that is not a regular file (a device, a pipe) is written in place.
#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace nimbus::arena {

inline constexpr auto kReplayFlushEvery = std::chrono::milliseconds(200);

// Where a replay stands until its game has ended.
std::string partialPath(const std::string& path);

class ReplayFile {
  public:
    // Creates PATH.partial (or opens PATH in place); nullptr, with why, when it cannot.
    static std::unique_ptr<ReplayFile> create(const std::string& path, std::string& why);
    // An unfinished file is left as it is: a partial replay.
    ~ReplayFile();

    // Compresses the text; writes what is ready when the buffer is full.
    void append(std::string_view text);
    // Hands everything so far to the file when kReplayFlushEvery has passed since the last time.
    void flushIfDue();
    // Ends the compressed stream, flushes the file to disk, closes it and renames it to PATH.
    // Returns why it could not (the first failure since the file was created), or "".
    std::string finish();

  private:
    ReplayFile(std::string path, std::string temp, int fd);
    void deflateSome(int flush);
    void writeOut();

    struct Stream;
    std::unique_ptr<Stream> stream_;
    std::string path_;
    std::string temp_;  // empty when written in place
    int fd_;
    std::string why_;
    std::chrono::steady_clock::time_point lastFlush_;
};

}  // namespace nimbus::arena
