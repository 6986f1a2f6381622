#pragma once
// The arena's output files before the game: whether they can be written, and what an earlier run
// left at their paths. They are written whole by util/whole_file.hpp.
#include <string>

namespace nimbus::arena {

// Whether the path can be written at the end, checked without creating anything: its folder
// exists and is writable, or the path is an existing writable file that is not a regular one (a
// device or a pipe, written in place). Returns why not, or "" when it can.
std::string whyNotWritable(const std::string& path);

// Removes a regular file an earlier run left at the path (a link or anything else is left as it
// is: a rename replaces it), so that a file found there later is this run's. Returns why it could
// not, or "".
std::string removeStale(const std::string& path);

// As removeStale, for a name the arena will create anew (a .partial replay): anything there that
// is not a regular file, a symbolic link above all, is in the way. Returns why, or "".
std::string clearForCreation(const std::string& path);

}  // namespace nimbus::arena
