#pragma once
// The replay file while the game runs, written to PATH.partial (created anew: nothing may stand
// at that name, a link least of all) and at the end flushed to disk and renamed to PATH (a path
// that is not a regular file, a device or a pipe, is written in place; util/whole_file.hpp).
// The text is cut into pieces of about kReplayPiece bytes, each compressed by a thread of its own
// into a whole gzip member that names its length in its header (docs/replay.md), so the game never
// waits for the compression unless it runs ahead by kReplayQueued pieces (memory stays bounded).
// A piece is handed over at least every kReplayFlushEvery, so the .partial file of a killed arena
// is a readable replay of every tick but the last moments. A write that fails (a full disk) ends
// the writing at once: the .partial file is cut back to its last whole piece, so that it stays a
// readable replay, and failed() tells the game, which goes on without it.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "util/whole_file.hpp"

namespace nimbus::arena {

inline constexpr auto kReplayFlushEvery = std::chrono::milliseconds(200);
inline constexpr std::size_t kReplayPiece = 256 * 1024;
inline constexpr std::size_t kReplayQueued = 4;

// Where a replay stands until its game has ended.
std::string partialPath(const std::string& path);

class ReplayFile {
  public:
    // Creates PATH.partial (or opens PATH in place, waiting for a FIFO's reader until a signal
    // comes, unless keepWaiting says otherwise); nullptr, with the error (EINTR: a signal ended
    // the wait), when it cannot.
    static std::unique_ptr<ReplayFile> create(const std::string& path, util::FileError& error,
                                              const util::KeepWaiting& keepWaiting = {});
    // An unfinished file gets what was appended, and is left as it is: a partial replay.
    ~ReplayFile();

    // Adds the text; a full piece goes to the compression (waiting while kReplayQueued are queued).
    void append(std::string_view text);
    // Hands the text so far to the compression when kReplayFlushEvery has passed since last time.
    void flushIfDue();
    // Whether a write has failed: nothing more reaches the file (finish() says why).
    bool failed() const;
    // Writes everything, flushes the file to disk, closes it and renames it to PATH.
    // Returns why it could not (the first failure since the file was created), or "": then the
    // file written so far is left as it is (see where()).
    std::string finish();
    // Where the replay is written: PATH.partial, or PATH when written in place.
    const std::string& where() const { return temp_.empty() ? path_ : temp_; }

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
