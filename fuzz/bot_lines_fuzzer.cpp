// The bot's line reading against any byte stream: every line fits its limit, is terminated, holds
// no line feed or carriage return, and together the lines never hold more than was sent.
#include <vector>

#include "fuzz/in_memory_link.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    nimbus::fuzz::quietStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::int32_t limit = 1 + data[0] * 4;  // 1 to 1021 characters
    auto link = nimbus::fuzz::linkReading(data + 1, size - 1);
    std::vector<char> buffer(static_cast<std::size_t>(limit) + 1);
    std::size_t total = 0;
    while (link->enabled()) {
        const std::int32_t n = link->receiveLine(buffer.data(), limit);
        if (n < 0 || n > limit || buffer[static_cast<std::size_t>(n)] != '\0') {
            __builtin_trap();
        }
        for (std::int32_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n' || buffer[i] == '\r') {
                __builtin_trap();
            }
        }
        total += static_cast<std::size_t>(n);
        if (total > size) {
            __builtin_trap();
        }
    }
    return 0;
}
