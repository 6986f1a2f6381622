#pragma once
// Small files read and written whole: reads never block on a FIFO or a device and never take
// more than a limit; writes are util/whole_file.hpp's (a temporary file of their own, created
// anew beside the target, and a rename), so that a reader sees all or nothing.
#include <cstddef>
#include <filesystem>
#include <string>

namespace nimbus::tournament {

struct FileText {
    bool exists = false;  // something is at the path
    std::string text;     // the contents, when `problem` is empty
    std::string problem;  // "not a regular file", "larger than N bytes", or why it cannot be read
};

// Reads a regular file of at most `limit` bytes.
FileText readWholeFile(const std::filesystem::path& path, std::size_t limit = 16u << 20);

// The last `bytes` bytes of a regular file (all of it when shorter), never through a symbolic
// link.
FileText readFileTail(const std::filesystem::path& path, std::size_t bytes);

// util::writeWhole, for the tournament's callers, which report by exception: throws
// std::runtime_error with util's message when it cannot.
void writeWhole(const std::filesystem::path& path, const std::string& text);

}  // namespace nimbus::tournament
