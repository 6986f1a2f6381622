#pragma once
// Starting an arena as a child process: its own process group, standard input from /dev/null,
// standard output and error into a file, default signal handling and mask, and SIGTERM when the
// tournament itself dies (so no game outlives it).
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace nimbus::tournament {

// Starts argv[0] (a path) with argv. Throws std::runtime_error when it cannot fork; a program
// that cannot be executed exits 127 with the reason in outputPath.
pid_t startChild(const std::vector<std::string>& argv, const std::filesystem::path& outputPath);

}  // namespace nimbus::tournament
