#pragma once
// Line assembly for a connection: bytes in, complete lines out. A line feed ends a line, carriage
// returns are dropped, and a line longer than kMaxLineBytes (arena/limits.hpp) is refused whole:
// the connection that sent it is to be ended.
#include <cstddef>
#include <string>

#include "arena/limits.hpp"

namespace nimbus::arena {

class LineAssembler {
  public:
    enum class Stop { Done, TooLong, Halted };

    // Hands every line completed by these bytes to onLine(std::string&&), in order; onLine
    // returns false to stop at once (the rest of the bytes is dropped). A partial line is kept
    // for the next call. Never holds more than kMaxLineBytes.
    template <class OnLine>
    Stop feed(const char* data, std::size_t size, OnLine&& onLine) {
        for (std::size_t i = 0; i < size; ++i) {
            const char ch = data[i];
            if (ch == '\r') {
                continue;
            }
            if (ch != '\n') {
                if (partial_.size() >= kMaxLineBytes) {
                    partial_.clear();
                    return Stop::TooLong;
                }
                partial_.push_back(ch);
                continue;
            }
            std::string line;
            line.swap(partial_);
            if (!onLine(std::move(line))) {
                return Stop::Halted;
            }
        }
        return Stop::Done;
    }

    std::size_t pendingBytes() const { return partial_.size(); }

  private:
    std::string partial_;
};

}  // namespace nimbus::arena
