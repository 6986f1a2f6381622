#include "tournament/play/progress.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace nimbus::tournament {

namespace {

std::string counts(const Progress& p, const char* separator) {
    std::string text = std::to_string(p.done) + "/" + std::to_string(p.total);
    text += separator + std::to_string(p.running) + " running";
    if (p.failed > 0) {
        text += separator + std::to_string(p.failed) + " failed";
    }
    text += separator + clock(p.elapsedSeconds) + " elapsed";
    text += separator + std::string("ETA ") + (p.etaSeconds ? clock(*p.etaSeconds) : "?");
    return text;
}

}  // namespace

std::string clock(double seconds) {
    const long s = std::lround(std::max(0.0, seconds));
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    }
    return text;
}

std::string progressBar(const Progress& p, std::size_t width) {
    std::string tail(1, ' ');
    tail.append(counts(p, "  "));
    if (!p.leader.empty()) {
        tail += "  leader " + p.leader;
    }
    constexpr std::size_t kBarMin = 10;
    constexpr std::size_t kBarMax = 30;
    if (width >= tail.size() + kBarMin + 2) {
        const std::size_t bar = std::min(kBarMax, width - tail.size() - 2);
        const std::size_t filled =
            p.total > 0 ? bar * static_cast<std::size_t>(p.done) / static_cast<std::size_t>(p.total)
                        : 0;
        std::string line(1, '[');
        line.append(filled, '#').append(bar - filled, '.').append("]").append(tail);
        return line;
    }
    // Cut between two characters, never inside one.
    std::size_t end = std::min(tail.size(), width + 1);
    while (end < tail.size() && (static_cast<unsigned char>(tail[end]) & 0xC0) == 0x80) {
        --end;
    }
    return tail.substr(1, end - 1);
}

std::string progressText(const Progress& p) {
    std::string text = counts(p, ", ");
    text.insert(text.find(','), " done");
    if (!p.leader.empty()) {
        text += ", leader " + p.leader;
    }
    return text;
}

ProgressReporter::ProgressReporter() : terminal_(::isatty(STDOUT_FILENO) != 0) {}

void ProgressReporter::line(const std::string& text) {
    clearBar();
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void ProgressReporter::gameDone(const std::string& text, const Progress& p) {
    if (terminal_) {
        bar(p);
    } else {
        line(text + "; " + progressText(p));
    }
}

void ProgressReporter::bar(const Progress& p) {
    if (!terminal_) {
        return;
    }
    winsize size{};
    const std::size_t width =
        ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
    std::printf("\r\033[K%s", progressBar(p, width).c_str());
    std::fflush(stdout);
    shown_ = true;
}

void ProgressReporter::clearBar() {
    if (shown_) {
        std::printf("\r\033[K");
        shown_ = false;
    }
}

}  // namespace nimbus::tournament
