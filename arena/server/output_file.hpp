#pragma once
// Output files that are whole or absent: written to a temporary file in the same folder, flushed
// to disk, closed, checked and renamed over the target, so a file found at the path is always a
// complete one, and this run's once the run has removed what an earlier run left.
#include <string>

namespace nimbus::arena {

// Whether the path can be written at the end, checked without creating anything: its folder
// exists and is writable, or the path is an existing writable file that is not a regular one (a
// device or a pipe, written in place). Returns why not, or "" when it can.
std::string whyNotWritable(const std::string& path);

// Removes a regular file an earlier run left at the path (nothing else is touched), so that a
// file found there later is this run's. Returns why it could not, or "".
std::string removeStale(const std::string& path);

// Writes the text whole (see above; a file that is not a regular one is written in place). Every
// step is checked; on failure the temporary file is removed and the reason returned, else "".
std::string writeWhole(const std::string& path, const std::string& text);

}  // namespace nimbus::arena
