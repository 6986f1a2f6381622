// The replay reader behind --verify against any file, in both formats (version 2: JSON lines,
// plain or gzip-compressed, read as a stream; version 1: one JSON text), read twice: as a finished
// file and as a .partial one. Each time it verifies, finds a divergence or damage, verifies a
// partial record (only the .partial file) or says the file is not a replay; the name changes
// nothing else. It never crashes or overflows, and its memory stays bounded whatever the input
// (scripts/fuzz runs it with -rss_limit_mb=256).
#include "arena/replay/verify.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto finished = nimbus::arena::ReplaySource::memory(data, size, "game.replay.jsonl.gz");
    auto partial = nimbus::arena::ReplaySource::memory(data, size, "game.replay.jsonl.gz.partial");
    const nimbus::arena::VerifyReport a = nimbus::arena::verifyReplay(*finished);
    const nimbus::arena::VerifyReport b = nimbus::arena::verifyReplay(*partial);
    const bool shapeless = (a.ok && a.notReplay) || (b.ok && b.notReplay) ||
                           (b.partial && !b.ok) || a.message.empty() || b.message.empty();
    const bool nameMatters = a.partial || a.notReplay != b.notReplay || a.ok != (b.ok && !b.partial);
    if (shapeless || nameMatters) {
        __builtin_trap();
    }
    return 0;
}
