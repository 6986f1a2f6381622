// Child processes on Windows; run_process_posix.cpp is the POSIX twin.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#include <stdexcept>
#include <thread>

#include "tests/support/run_process.hpp"

namespace nimbus::testing {

namespace {

// One argument of a command line, quoted so that the C runtime of the child reads it back as is.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        out += c;
        backslashes = 0;
    }
    out.append(backslashes * 2, '\\');
    return out + '"';
}

// This process's environment with the given entries added (an entry replaces one of its name),
// as CreateProcess takes it: "NAME=value" strings, each ended by a zero, and one more zero.
std::string environmentBlock(const std::vector<std::string>& added) {
    std::string block;
    char* own = GetEnvironmentStringsA();
    for (const char* e = own; *e != '\0'; e += std::strlen(e) + 1) {
        const std::string entry = e;
        const std::string name = entry.substr(0, entry.find('=', 1) + 1);  // "=C:=..." entries too
        bool replaced = false;
        for (const std::string& a : added)
            replaced = replaced || a.rfind(name, 0) == 0;
        if (!replaced)
            block.append(entry).push_back('\0');
    }
    FreeEnvironmentStringsA(own);
    for (const std::string& a : added)
        block.append(a).push_back('\0');
    block.push_back('\0');
    return block;
}

}  // namespace

ProcessResult runProcess(const std::string& path, const std::vector<std::string>& args,
                         std::chrono::milliseconds timeout,
                         const std::vector<std::string>& environment) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string commandLine = quoted(path);
    for (const auto& a : args)
        commandLine.append(1, ' ').append(quoted(a));
    std::string env = environmentBlock(environment);

    const auto start = std::chrono::steady_clock::now();
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        env.data(), nullptr, &startup, &process);
    CloseHandle(writeEnd);  // the child holds the only writing end: its exit ends the output
    if (!started) {
        CloseHandle(readEnd);
        throw std::runtime_error("cannot start " + path);
    }
    ProcessResult result;
    std::thread reader([&result, readEnd] {
        char buf[4096];
        DWORD n = 0;
        while (ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0)
            result.output.append(buf, n);
    });
    bool killed = false;
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        killed = true;
    }
    reader.join();
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.exitCode = killed ? -1 : static_cast<int>(code);
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(readEnd);
    return result;
}

std::string withPlatformLineEnds(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

}  // namespace nimbus::testing
