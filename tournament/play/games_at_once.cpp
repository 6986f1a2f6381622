#include "tournament/play/games_at_once.hpp"

#include <algorithm>

#include "tournament/standings/standings.hpp"

namespace nimbus::tournament {

GamesAtOnce::GamesAtOnce(std::int32_t most, std::int32_t fewest)
    : most_(std::max<std::int32_t>(most, 1)), fewest_(fewest), now_(most_) {}

bool GamesAtOnce::gameEnded(std::int32_t game, double p99Ms, std::int32_t lastStarted) {
    if (fewest_ <= 0 || game <= setAfter_) {
        return false;  // fixed, or a game started before the last change
    }
    std::int32_t next = now_;
    if (p99Ms > kFairLagMs) {
        calmInARow_ = 0;
        next = std::max(fewest_, now_ / 2);
    } else if (p99Ms <= kFairLagMs / 2) {
        if (now_ < most_ && ++calmInARow_ >= 2 * now_) {
            next = std::min(most_, now_ * 2);
        }
    } else {
        calmInARow_ = 0;
    }
    if (next == now_) {
        return false;
    }
    now_ = next;
    setAfter_ = lastStarted;
    calmInARow_ = 0;
    return true;
}

}  // namespace nimbus::tournament
