// The replay reader behind --verify against any file, in both formats (version 2: JSON lines,
// plain or gzip-compressed, read as a stream; version 1: one JSON text): it verifies, finds a
// divergence, verifies a partial record or says the file is not a replay; it never crashes,
// overflows or allocates beyond what the file's size allows.
#include "arena/game/replay.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto source = nimbus::arena::ReplaySource::memory(data, size);
    const nimbus::arena::VerifyReport report = nimbus::arena::verifyReplay(*source);
    if ((report.ok && report.notReplay) || (report.partial && !report.ok) ||
        report.message.empty()) {
        __builtin_trap();
    }
    return 0;
}
