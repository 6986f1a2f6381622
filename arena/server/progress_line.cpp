#include "arena/server/progress_line.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

namespace nimbus::arena {

std::string progressText(std::int32_t tick, std::int32_t ticks,
                         const std::vector<ProgressEntry>& players, std::size_t width) {
    const long long percent =
        ticks > 0 ? static_cast<long long>(tick) * 100 / static_cast<long long>(ticks) : 100;
    char head[64];
    std::snprintf(head, sizeof head, "tick %d/%d %3lld%%", tick, ticks, percent);
    std::string text = head;
    for (const ProgressEntry& p : players) {
        char mass[32];
        if (p.in) {
            std::snprintf(mass, sizeof mass, "%.1f", static_cast<double>(p.mass));
        } else {
            std::snprintf(mass, sizeof mass, "out");
        }
        const std::string part = "  " + p.name + " " + mass;
        if (text.size() + part.size() > width) {
            break;  // whole entries only
        }
        text += part;
    }
    if (text.size() > width) {
        text.resize(width);
    }
    return text;
}

std::size_t terminalWidth(int fd) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    if (const char* columns = std::getenv("COLUMNS")) {
        const long n = std::strtol(columns, nullptr, 10);
        if (n > 0 && n < 10000) {
            return static_cast<std::size_t>(n);
        }
    }
    return 80;
}

void ProgressLine::show(const std::string& text) {
    std::fputs(("\r" + text + "\033[K").c_str(), out_);
    std::fflush(out_);
    shown_ = true;
}

void ProgressLine::interrupt() {
    if (shown_) {
        std::fputs("\r\033[K", out_);
        std::fflush(out_);
        shown_ = false;
    }
}

void ProgressLine::finish() {
    if (shown_) {
        std::fputs("\n", out_);
        std::fflush(out_);
        shown_ = false;
    }
}

}  // namespace nimbus::arena
