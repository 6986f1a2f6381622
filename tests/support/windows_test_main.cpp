// main() of the Windows test programs. The sockets library is started as the bot's guard starts
// it; standard output is binary, so that GoogleTest's test lists and reports end their lines in
// LF as CTest reads them (a bot the tests start keeps its own text-mode CR LF); and a crash ends
// the program instead of opening an error box.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "bot/platform/socket.hpp"

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    _setmode(_fileno(stdout), _O_BINARY);
    nimbus::platform::socketsStartup();
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    nimbus::platform::socketsCleanup();
    return result;
}
