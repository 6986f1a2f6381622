#pragma once
// Small files read and written whole: reads never block on a FIFO or a device and never take
// more than a limit; writes go through a temporary file of their own and a rename, so that a
// reader sees all or nothing and two writers never share a temporary file.
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

// Writes text to path through a unique temporary file beside it and a rename. Throws
// std::runtime_error when it cannot.
void writeWhole(const std::filesystem::path& path, const std::string& text);

}  // namespace nimbus::tournament
