#pragma once
// The replay file while the game runs, written to PATH.partial and at the end flushed to disk and
// renamed to PATH (a path that is not a regular file, a device or a pipe, is written in place).
// The text is cut into pieces of about kReplayPiece bytes, each compressed by a thread of its own
// into a whole gzip member that names its length in its header (docs/replay.md), so the game never
// waits for the compression unless it runs ahead by kReplayQueued pieces (memory stays bounded).
// A piece is handed over at least every kReplayFlushEvery, so the .partial file of a killed arena
// is a readable replay of every tick but the last moments.
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace nimbus::arena {

inline constexpr auto kReplayFlushEvery = std::chrono::milliseconds(200);
inline constexpr std::size_t kReplayPiece = 256 * 1024;
inline constexpr std::size_t kReplayQueued = 4;

// Where a replay stands until its game has ended.
std::string partialPath(const std::string& path);

class ReplayFile {
  public:
    // Creates PATH.partial (or opens PATH in place); nullptr, with why, when it cannot.
    static std::unique_ptr<ReplayFile> create(const std::string& path, std::string& why);
    // An unfinished file gets what was appended, and is left as it is: a partial replay.
    ~ReplayFile();

    // Adds the text; a full piece goes to the compression (waiting while kReplayQueued are queued).
    void append(std::string_view text);
    // Hands the text so far to the compression when kReplayFlushEvery has passed since last time.
    void flushIfDue();
    // Writes everything, flushes the file to disk, closes it and renames it to PATH.
    // Returns why it could not (the first failure since the file was created), or "".
    std::string finish();

  private:
    ReplayFile(std::string path, std::string temp, int fd);
    void handOver();
    void stopWriter();

    struct Writer;
    std::unique_ptr<Writer> writer_;
    std::string piece_;  // text not yet handed over
    std::string path_;
    std::string temp_;  // empty when written in place
    int fd_;
    std::chrono::steady_clock::time_point lastFlush_;
};

}  // namespace nimbus::arena
