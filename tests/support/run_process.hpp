#pragma once
// Runs a program as a child process for tests and collects its standard output (one
// implementation file per platform).
#include <chrono>
#include <string>
#include <vector>

namespace nimbus::testing {

struct ProcessResult {
    int exitCode = -1;   // exit status, or -1 when it was killed
    std::string output;  // everything written to standard output, as written
    std::chrono::milliseconds elapsed{0};
};

// Runs path with args and with `environment` ("NAME=value" entries) added to this process's
// own; kills it after timeout. Standard error goes to the test's own.
ProcessResult runProcess(const std::string& path, const std::vector<std::string>& args = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(60),
                         const std::vector<std::string>& environment = {});

// Text as a program of this platform writes it to a text-mode standard output: with CR LF line
// ends on Windows, unchanged elsewhere.
std::string withPlatformLineEnds(const std::string& text);

}  // namespace nimbus::testing
