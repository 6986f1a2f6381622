#include "arena/server/referee.hpp"

#include "arena/limits.hpp"

namespace nimbus::arena {

bool refereeLobby(const Command& command, std::string& refusal) {
    if (command.kind == CommandKind::Name) {
        return true;
    }
    refusal = command.kind == CommandKind::Invalid ? "ERROR " + command.error + "\n"
                                                   : "ERROR send NAME first\n";
    return false;
}

Reply referee(Game& game, std::int32_t player, std::int32_t tickMs, StateBudget& budget,
              const Command& command) {
    switch (command.kind) {
        case CommandKind::Name:
            return {Ruling::Refused, "ERROR already named\n"};
        case CommandKind::Invalid:
            return {Ruling::Refused, "ERROR " + command.error + "\n"};
        case CommandKind::GetState:
            if (budget.tick != game.tick()) {
                budget.tick = game.tick();
                budget.states = 0;
            }
            if (++budget.states > statesPerTick(tickMs)) {
                ++budget.refused;
                return {Ruling::OverBudget, "ERROR over budget\n"};
            }
            return {Ruling::Answered, formatState(game, player)};
        case CommandKind::Wind: {
            const WindVerdict v = game.queueWind(player, command.wx, command.wy);
            if (!v.accepted) {
                return {Ruling::Refused, "ERROR " + v.reason + "\n"};
            }
            return {Ruling::Answered, "OK\n"};
        }
    }
    return {Ruling::Refused, "ERROR unknown command\n"};
}

}  // namespace nimbus::arena
