// The bot's state request against any reply: whatever the server sends, the parse ends, keeps
// its lists within what the reply could describe, and touches no memory it does not own.
#include <cstdio>

#include "bot/net/state_request.hpp"
#include "fuzz/in_memory_link.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    nimbus::fuzz::quietStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto link = nimbus::fuzz::linkReading(data, size);
    nimbus::WorldSnapshot snapshot;
    nimbus::refreshState(*link, snapshot);
    // Every cloud came from a line of at least a keyword and a space.
    const std::size_t clouds = snapshot.rivals.size() + snapshot.rainclouds.size();
    if (clouds > size / 2 + 1) {
        __builtin_trap();
    }
    return 0;
}
