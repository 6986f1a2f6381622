#pragma once
// The tournament's progress as text: a bar line for terminals, a plain line for logs.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace nimbus::tournament {

struct Progress {
    std::int32_t done = 0;  // finished games, those of earlier runs included
    std::int32_t total = 0;
    std::int32_t running = 0;
    std::int32_t failed = 0;
    double elapsedSeconds = 0.0;
    std::optional<double> etaSeconds;  // unknown until a game of this run has finished
    std::string leader;                // empty before any game
};

// "1:05" or "1:02:03".
std::string clock(double seconds);

// "[####......] 12/40  2 running  0:42 elapsed  ETA 2:10  leader X", at most `width` columns:
// the bar shrinks first, then goes, then the leader is cut.
std::string progressBar(const Progress& p, std::size_t width);

// "12/40 done, 2 running, 0:42 elapsed, ETA 2:10, leader X" for logs.
std::string progressText(const Progress& p);

// The screen side of a tournament on standard output: a refreshing bar on a terminal, plain lines
// otherwise.
class ProgressReporter {
  public:
    ProgressReporter();
    // A line of its own (the bar, if shown, is cleared first).
    void line(const std::string& text);
    // A finished game: the bar on a terminal, else `text` and the progress on one line.
    void gameDone(const std::string& text, const Progress& p);
    // Redraws the bar (terminals only).
    void bar(const Progress& p);
    void clearBar();

  private:
    bool terminal_;
    bool shown_ = false;
};

}  // namespace nimbus::tournament
