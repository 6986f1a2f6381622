#pragma once
// The arena's game server on one thread and one Asio event loop: the lobby (NAME replies held
// until every player starts together), the tick timer without drift (tick k is due at
// start + k x tick-ms; late ticks are caught up, never lost), the protocol dispatch, builtin
// players, bot processes, and the orderly end (connections flushed and closed, processes waited
// for, then ended after a short grace).
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <asio.hpp>

#include "arena/game/builtin_player.hpp"
#include "arena/game/game.hpp"
#include "arena/replay/encoder.hpp"
#include "arena/game/results.hpp"
#include "arena/server/bot_process.hpp"
#include "arena/server/bot_watch.hpp"
#include "arena/server/progress_line.hpp"
#include "arena/replay/writer.hpp"
#include "arena/server/protocol.hpp"
#include "arena/server/referee.hpp"
#include "arena/server/session.hpp"
#include "arena/server/tick_stats.hpp"

namespace nimbus::arena {

struct ArenaOptions {
    std::uint16_t port = 1986;  // 0 picks a free port (see ArenaServer::port)
    std::uint64_t seed = 0;
    std::int32_t ticks = 3600;
    std::int32_t tickMs = 16;
    std::int32_t rainclouds = 40;
    std::int32_t players = 0;  // players to wait for; 0 means one per BOT
    double lobbySeconds = 10.0;
    std::vector<std::string> bots;  // command lines, or builtin:idle / builtin:greedy
    std::string logDir = ".";       // where the bot processes' logs go
    bool progress = false;          // one refreshing progress line on stdout
    std::string replayPath;         // the replay, written while the game runs ("": none)
    // Each bot in a sandbox of its own with these limits (the arena is then in a network of its
    // own already: see util::enterOwnNetwork); none: bots run as the arena's user.
    std::optional<util::SandboxLimits> sandbox;
};

// Where the arena's log lines go; `warning` marks lines that --quiet must not hide.
using ArenaLog = std::function<void(const std::string& text, bool warning)>;

class ArenaServer : public SessionHost {
  public:
    // Listens at once on 127.0.0.1; throws std::system_error when the port cannot be bound and
    // std::invalid_argument for an unknown builtin.
    ArenaServer(asio::io_context& io, ArenaOptions options, ArenaLog log);
    ~ArenaServer() override;

    std::uint16_t port() const;

    // Builtins join, bot processes start, connections are accepted. The game then runs inside
    // io.run(), which returns once the game is over and everything is shut down.
    void start();

    // After io.run() has returned: the finished game (nullptr if it never started), the players
    // (by index once the game has started: see numberByPlace) and why the game ended.
    // Sessions still held: the open ones and the players' (closed unnamed ones are dropped).
    std::size_t sessionCount() const { return sessions_.size(); }
    const Game* game() const { return game_.get(); }
    const std::vector<PlayerInfo>& players() const { return infos_; }
    // The players for the results: those of the game (as players(), with their GET_STATE
    // commands refused for the budget), then the BOTs that never named themselves in the lobby
    // (absent), in the order given.
    std::vector<PlayerInfo> resultPlayers() const;
    // What became of the replay (after io.run() has returned).
    const ReplayRecord& replayRecord() const { return replay_; }
    // After io.run() has returned: takes the SIGINTs and SIGTERMs that came since the game's end
    // (the signals stay caught until the server is destroyed, so one during the final writes does
    // not cut them) and counts them in interruptedBy() and signalsReceived().
    void collectLateSignals();
    // The SIGINTs and SIGTERMs received so far (the second cuts the shutdown short).
    int signalsReceived() const { return signalsReceived_; }
    const std::string& endReason() const { return endReason_; }
    const TickStats& tickStats() const { return tickStats_; }
    // The signal (SIGINT or SIGTERM) that interrupted the game; 0 when none did.
    int interruptedBy() const { return interruptedBy_; }
    // GET_STATE commands of the player refused for the command budget (arena/limits.hpp).
    std::int64_t overBudget(std::int32_t player) const {
        return player >= 0 && static_cast<std::size_t>(player) < budgets_.size()
                   ? budgets_[player].refused
                   : 0;
    }

    // SessionHost
    void onLine(Session& session, const std::string& line) override;
    void onClosed(Session& session) override;
    void log(const std::string& text) override { log_(text, true); }

  private:
    enum class Phase { Lobby, Running, Ending, Done };
    struct Player {
        std::optional<BuiltinKind> builtin;
        std::shared_ptr<Session> session;
        // Where the player goes in the game's order: its BOT's place on the command line, or,
        // for a client in an open seat, after every BOT in the order the clients named themselves.
        std::int32_t place = 0;
    };
    using Clock = std::chrono::steady_clock;

    void accept();
    void waitForSignal();
    void onSignal(int signal);
    void onLobbyLine(Session& session, const Command& cmd);
    bool awaitingBots() const;
    void matchProcess(Session& session);
    std::int32_t openSeats() const;
    void launchNext();
    void watchLobby();
    std::int32_t addPlayer(const std::string& wanted, const std::string& kind,
                           const std::string& logPath, const std::string& command,
                           std::int32_t place);
    // At the start: the players numbered by their place (see Player::place), their sessions
    // told their numbers, and each player's number logged.
    void numberByPlace();
    void maybeStart();
    void startGame();
    // Opens the replay file, when there is one, and writes its header. A file that cannot be
    // opened is logged and the game goes on without it; false when a signal ended the wait for
    // a FIFO's reader (the game then ends before its first tick).
    bool openReplay();
    // Tells every player its name is accepted, then hands over the lines each sent while held.
    void greetPlayers();
    void scheduleTick();
    void onTick();
    bool anyBotConnected() const;
    bool hasBotPlayers() const;
    void endGame(const std::string& reason);
    void shutdownStep(int round);
    void finishNow();
    void recordTick();
    void finishReplay();
    void giveUpFailedReplay();
    void showProgress(bool last);
    void noteAbsentBots();
    void reportSilentExits();
    void watchUsage();

    asio::io_context& io_;
    ArenaOptions options_;
    ArenaLog log_;
    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer tickTimer_;
    asio::steady_timer lobbyTimer_;
    asio::steady_timer watchTimer_;
    asio::steady_timer launchTimer_;
    asio::steady_timer shutdownTimer_;
    asio::steady_timer acceptRetryTimer_;  // after a failed accept (out of descriptors, say)
    asio::steady_timer usageTimer_;        // samples the sandboxed bots' usage
    asio::signal_set signals_;
    Phase phase_ = Phase::Lobby;
    bool silentExitsReported_ = false;
    bool unpaced_ = false;        // no external client left: the ticks run as fast as they can
    bool acceptFailing_ = false;  // the last accept failed: logged once until one succeeds
    std::int32_t wanted_ = 0;
    std::int32_t nextSessionId_ = 1;
    std::vector<std::shared_ptr<Session>> sessions_;
    std::vector<std::string> commands_;  // bot command lines, launched in order
    std::vector<std::int32_t> commandPlaces_;  // by command: its place among the BOTs given
    std::vector<std::unique_ptr<BotProcess>> processes_;
    std::vector<std::string> logPaths_;   // by process
    std::vector<std::string> unstarted_;  // BOT command lines that could not be started
    std::vector<bool> connected_;         // by process: a connection of it has been seen
    std::vector<bool> seated_;            // by process: it has taken its reserved seat
    std::vector<std::string> stopped_;    // by process: the limit it was stopped for, if any
    std::unique_ptr<BotWatch> botWatch_;  // with --sandbox
    std::int32_t builtins_ = 0;
    std::int32_t openTaken_ = 0;  // seats taken by clients that are not started bots
    std::vector<StateBudget> budgets_;  // by player
    int interruptedBy_ = 0;
    int signalsReceived_ = 0;
    TickStats tickStats_;
    std::vector<Player> roster_;
    std::vector<PlayerInfo> infos_;
    std::unique_ptr<Game> game_;
    std::unique_ptr<ReplayEncoder> replayEncoder_;
    std::unique_ptr<ReplayFile> replayFile_;
    std::string replayLine_;
    ReplayRecord replay_;
    Clock::time_point start_;
    Clock::time_point lastProgress_;
    std::string endReason_;
    std::vector<PlayerInfo> absent_;
    ProgressLine progressLine_{stdout};
};

}  // namespace nimbus::arena
