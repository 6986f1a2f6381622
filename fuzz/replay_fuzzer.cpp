// The replay loader behind --verify against any file: it either verifies, finds a divergence or
// says the file is not a replay; it never crashes, overflows or allocates beyond the file's size.
#include <nlohmann/json.hpp>

#include "arena/game/replay.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const nlohmann::json replay =
        nlohmann::json::parse(data, data + size, nullptr, /*allow_exceptions=*/false);
    if (replay.is_discarded()) {
        return 0;
    }
    const nimbus::arena::VerifyReport report = nimbus::arena::verifyReplay(replay);
    if (report.ok == report.notReplay && report.ok) {
        __builtin_trap();
    }
    return 0;
}
