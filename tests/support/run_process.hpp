#pragma once
// Runs a program as a child process for tests and collects its standard output.
#include <chrono>
#include <string>
#include <vector>

namespace nimbus::testing {

struct ProcessResult {
    int exitCode = -1;   // exit status, or -1 when it was killed
    std::string output;  // everything written to standard output
    std::chrono::milliseconds elapsed{0};
};

// Runs path with args; kills it after timeout. Standard error goes to the test's own.
ProcessResult runProcess(const std::string& path, const std::vector<std::string>& args = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace nimbus::testing
