#pragma once
// The arena's one refreshing progress line on a terminal: it is redrawn in place, never wider
// than the terminal, and any log line printed while it is shown starts on a fresh line.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace nimbus::arena {

struct ProgressEntry {
    std::string name;
    float mass = 0.0f;
    bool in = true;  // false once swallowed or gone
};

// "tick 120/3600   3%  alice 101.2  bob out ...", cut to at most width characters (width >= 1).
std::string progressText(std::int32_t tick, std::int32_t ticks,
                         const std::vector<ProgressEntry>& players, std::size_t width);

// The terminal's width in columns: the terminal's own size, else $COLUMNS, else 80.
std::size_t terminalWidth(int fd);

class ProgressLine {
  public:
    explicit ProgressLine(std::FILE* out) : out_(out) {}
    // Draws the text in place of the line shown (text must fit the terminal).
    void show(const std::string& text);
    // Clears a shown line so that what is printed next starts on a fresh line.
    void interrupt();
    // Leaves the shown line as it is and moves below it.
    void finish();

  private:
    std::FILE* out_;
    bool shown_ = false;
};

}  // namespace nimbus::arena
