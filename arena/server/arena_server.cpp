#include "arena/server/arena_server.hpp"

#include <cstdio>
#include <stdexcept>

#include "arena/server/protocol.hpp"
#include "arena/server/tick_schedule.hpp"

namespace nimbus::arena {

namespace {

constexpr auto kLaunchGap = std::chrono::seconds(3);  // the most a bot gets to connect in turn
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);  // pause after a failed accept
constexpr auto kShutdownPoll = std::chrono::milliseconds(50);
constexpr int kGraceRounds = 40;  // 2 s for connections to flush and processes to exit
constexpr int kTermRounds = 20;   // then 1 s after SIGTERM before SIGKILL
constexpr auto kProgressEvery = std::chrono::milliseconds(100);

}  // namespace

ArenaServer::ArenaServer(asio::io_context& io, ArenaOptions options, ArenaLog log)
    : io_(io),
      options_(std::move(options)),
      log_(std::move(log)),
      acceptor_(io),
      tickTimer_(io),
      lobbyTimer_(io),
      watchTimer_(io),
      launchTimer_(io),
      shutdownTimer_(io),
      acceptRetryTimer_(io),
      signals_(io) {
    for (const std::string& bot : options_.bots) {
        if (looksBuiltin(bot) && !parseBuiltin(bot)) {
            throw std::invalid_argument("unknown builtin player \"" + bot +
                                        "\" (known: builtin:idle, builtin:greedy)");
        }
    }
    wanted_ =
        options_.players > 0 ? options_.players : static_cast<std::int32_t>(options_.bots.size());
    const asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), options_.port);
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen();
}

ArenaServer::~ArenaServer() = default;

std::uint16_t ArenaServer::port() const {
    return acceptor_.local_endpoint().port();
}

void ArenaServer::start() {
    signals_.add(SIGINT);
    signals_.add(SIGTERM);
    signals_.async_wait([this](const asio::error_code& ec, int) {
        if (ec) {
            return;
        }
        log_("interrupted", true);
        endGame("interrupted");
    });
    log_("listening on 127.0.0.1:" + std::to_string(port()) + ", seed " +
             std::to_string(options_.seed),
         false);
    for (const std::string& bot : options_.bots) {
        if (auto kind = parseBuiltin(bot)) {
            const std::int32_t p = addPlayer(builtinName(*kind), "builtin", "");
            roster_[p].builtin = kind;
        } else {
            commands_.push_back(bot);
        }
    }
    accept();
    launchNext();
    watchLobby();
    maybeStart();
}

void ArenaServer::accept() {
    acceptor_.async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
        if (ec) {
            if (ec != asio::error::operation_aborted && phase_ < Phase::Ending) {
                // Out of descriptors, say: accepting again at once would fail at once, and spin.
                if (!acceptFailing_) {
                    log_("cannot accept connections: " + ec.message() + "; retrying", true);
                }
                acceptFailing_ = true;
                acceptRetryTimer_.expires_after(kAcceptRetry);
                acceptRetryTimer_.async_wait([this](const asio::error_code& waited) {
                    if (!waited && phase_ < Phase::Ending) {
                        accept();
                    }
                });
            }
            return;
        }
        if (phase_ >= Phase::Ending) {
            return;
        }
        acceptFailing_ = false;
        const std::int32_t id = nextSessionId_++;
        auto session = std::make_shared<Session>(std::move(socket), *this, id);
        if (attributed_ < processes_.size()) {
            sessionProcess_[id] = static_cast<std::int32_t>(attributed_++);
            if (attributed_ == processes_.size()) {
                launchTimer_.cancel();
                launchNext();
            }
        }
        sessions_.push_back(session);
        session->start();
        accept();
    });
}

void ArenaServer::launchNext() {
    if (processes_.size() >= commands_.size() || phase_ >= Phase::Ending) {
        return;
    }
    const std::size_t i = processes_.size();
    const std::string path = options_.logDir + "/nimbus-arena-" + std::to_string(options_.seed) +
                             "-bot" + std::to_string(i + 1) + ".log";
    try {
        // A bot started by the arena can find it through NIMBUS_ARENA_PORT.
        processes_.push_back(std::make_unique<BotProcess>(
            commands_[i], path,
            std::vector<std::string>{"NIMBUS_ARENA_PORT=" + std::to_string(port())}));
        logPaths_.push_back(path);
        log_("started \"" + commands_[i] + "\" (log " + path + ")", false);
    } catch (const std::exception& e) {
        log_(e.what(), true);
        commands_.erase(commands_.begin() + static_cast<std::ptrdiff_t>(i));
        launchNext();
        return;
    }
    // The next bot starts once this one has connected, or after a while if it does not.
    launchTimer_.expires_after(kLaunchGap);
    launchTimer_.async_wait([this](const asio::error_code& ec) {
        if (ec) {
            return;
        }
        if (attributed_ < processes_.size()) {
            ++attributed_;  // it never connected; later connections belong to later bots
        }
        launchNext();
    });
}

void ArenaServer::watchLobby() {
    // Ends a lobby that cannot get the bots it was given: every started bot has exited and none
    // of them named itself.
    if (phase_ != Phase::Lobby) {
        return;
    }
    bool allExited = processes_.size() == commands_.size() && !commands_.empty();
    for (auto& p : processes_) {
        allExited = allExited && p->exited();
    }
    if (allExited && !hasBotPlayers()) {
        log_("every bot exited before naming itself", true);
        endGame("no_players");
        return;
    }
    watchTimer_.expires_after(std::chrono::milliseconds(200));
    watchTimer_.async_wait([this](const asio::error_code& ec) {
        if (!ec) {
            watchLobby();
        }
    });
}

std::int32_t ArenaServer::addPlayer(const std::string& wanted, const std::string& kind,
                                    const std::string& logPath) {
    std::string name = wanted;
    for (int n = 2;; ++n) {
        bool taken = false;
        for (const PlayerInfo& info : infos_) {
            taken = taken || info.name == name;
        }
        if (!taken) {
            break;
        }
        name = wanted + "-" + std::to_string(n);
    }
    infos_.push_back({name, kind, logPath});
    roster_.push_back({});
    const auto p = static_cast<std::int32_t>(roster_.size() - 1);
    log_("player " + std::to_string(p) + " is " + name + " (" + kind + ")", false);
    if (!lobbyTimerRunning_) {
        lobbyTimerRunning_ = true;
        lobbyTimer_.expires_after(std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(options_.lobbySeconds)));
        lobbyTimer_.async_wait([this](const asio::error_code& ec) {
            if (!ec && phase_ == Phase::Lobby) {
                startGame();
            }
        });
    }
    return p;
}

void ArenaServer::maybeStart() {
    if (phase_ == Phase::Lobby && static_cast<std::int32_t>(roster_.size()) >= wanted_) {
        startGame();
    }
}

void ArenaServer::startGame() {
    if (phase_ != Phase::Lobby || roster_.empty()) {
        return;
    }
    phase_ = Phase::Running;
    lobbyTimer_.cancel();
    watchTimer_.cancel();
    GameSettings settings;
    settings.seed = options_.seed;
    settings.ticks = options_.ticks;
    settings.rainclouds = options_.rainclouds;
    settings.players = static_cast<std::int32_t>(roster_.size());
    game_ = std::make_unique<Game>(settings);
    recorder_ = std::make_unique<ReplayRecorder>(*game_);
    log_("game starts: " + std::to_string(settings.players) + " players, " +
             std::to_string(settings.rainclouds) + " rainclouds, " +
             std::to_string(settings.ticks) + " ticks of " + std::to_string(options_.tickMs) +
             " ms",
         false);
    start_ = Clock::now();
    lastProgress_ = start_;
    for (std::size_t p = 0; p < roster_.size(); ++p) {
        if (roster_[p].session) {
            roster_[p].session->send("OK " + infos_[p].name + "\n");
        }
    }
    for (std::size_t p = 0; p < roster_.size(); ++p) {
        if (roster_[p].session) {
            roster_[p].session->release();
        }
    }
    if (hasBotPlayers() && !anyBotConnected()) {
        endGame("no_players");
        return;
    }
    scheduleTick();
}

void ArenaServer::scheduleTick() {
    const std::chrono::milliseconds period(options_.tickMs);
    tickTimer_.expires_at(
        start_ + std::chrono::duration_cast<Clock::duration>(tickDueAt(game_->tick() + 1, period)));
    tickTimer_.async_wait([this](const asio::error_code& ec) {
        if (!ec && phase_ == Phase::Running) {
            onTick();
        }
    });
}

void ArenaServer::onTick() {
    const std::int64_t due =
        ticksDue(Clock::now() - start_, std::chrono::milliseconds(options_.tickMs));
    while (phase_ == Phase::Running && !game_->over() && game_->tick() < due) {
        for (std::size_t p = 0; p < roster_.size(); ++p) {
            if (roster_[p].builtin) {
                const auto player = static_cast<std::int32_t>(p);
                if (auto w = builtinWind(*roster_[p].builtin, *game_, player)) {
                    game_->queueWind(player, w->wx, w->wy);
                }
            }
        }
        game_->step();
        recorder_->capture(*game_);
        for (std::size_t p = 0; p < roster_.size(); ++p) {
            const PlayerRecord& r = game_->record(static_cast<std::int32_t>(p));
            if (r.outAtTick == game_->tick()) {
                log_(infos_[p].name + " is out at tick " + std::to_string(r.outAtTick), false);
                if (roster_[p].session) {
                    roster_[p].session->closeAfterFlush();
                }
            }
        }
    }
    if (phase_ != Phase::Running) {
        return;
    }
    showProgress(false);
    if (game_->over()) {
        endGame(game_->tick() >= options_.ticks ? "ticks" : "one_left");
        return;
    }
    scheduleTick();
}

bool ArenaServer::hasBotPlayers() const {
    for (const Player& p : roster_) {
        if (!p.builtin) {
            return true;
        }
    }
    return false;
}

bool ArenaServer::anyBotConnected() const {
    for (const Player& p : roster_) {
        if (!p.builtin && p.session && p.session->isOpen()) {
            return true;
        }
    }
    return false;
}

void ArenaServer::onLine(Session& session, const std::string& line) {
    const Command cmd = parseCommand(line);
    if (session.player < 0) {
        if (cmd.kind != CommandKind::Name) {
            session.send(cmd.kind == CommandKind::Invalid ? "ERROR " + cmd.error + "\n"
                                                          : "ERROR send NAME first\n");
            return;
        }
        if (phase_ != Phase::Lobby) {
            session.send("ERROR game already started\n");
            return;
        }
        const auto matched = sessionProcess_.find(session.id());
        const std::int32_t process = matched != sessionProcess_.end() ? matched->second : -1;
        const std::string logPath = process >= 0 ? logPaths_[process] : "";
        const std::int32_t p = addPlayer(cmd.name, "bot", logPath);
        session.player = p;
        session.label = "player " + std::to_string(p) + " (" + infos_[p].name + ")";
        for (auto& s : sessions_) {
            if (s.get() == &session) {
                roster_[p].session = s;
            }
        }
        session.hold();  // its reply, and everything it sends next, waits for the start
        maybeStart();
        return;
    }
    switch (cmd.kind) {
        case CommandKind::Name:
            session.send("ERROR already named\n");
            break;
        case CommandKind::Invalid:
            session.send("ERROR " + cmd.error + "\n");
            break;
        case CommandKind::GetState:
            session.send(formatState(*game_, session.player));
            break;
        case CommandKind::Wind: {
            const WindVerdict v = game_->queueWind(session.player, cmd.wx, cmd.wy);
            session.send(v.accepted ? std::string("OK\n") : "ERROR " + v.reason + "\n");
            break;
        }
    }
}

void ArenaServer::onClosed(Session& session) {
    if (session.player >= 0 && phase_ < Phase::Ending) {
        log_(session.label + " disconnected", false);
    }
    // Decided outside the session's own call chain.
    asio::post(io_, [this, id = session.id()] {
        // A connection that never named itself leaves nothing behind.
        sessionProcess_.erase(id);
        std::erase_if(sessions_, [id](const std::shared_ptr<Session>& s) {
            return s->id() == id && s->player < 0 && !s->isOpen();
        });
        if (phase_ == Phase::Running && hasBotPlayers() && !anyBotConnected()) {
            endGame("no_players");
        }
    });
}

void ArenaServer::endGame(const std::string& reason) {
    if (phase_ >= Phase::Ending) {
        return;
    }
    const bool wasRunning = phase_ == Phase::Running;
    phase_ = Phase::Ending;
    endReason_ = reason;
    tickTimer_.cancel();
    lobbyTimer_.cancel();
    watchTimer_.cancel();
    launchTimer_.cancel();
    signals_.cancel();
    asio::error_code ignored;
    acceptor_.close(ignored);
    acceptRetryTimer_.cancel();
    if (wasRunning) {
        showProgress(true);
        log_("game over at tick " + std::to_string(game_->tick()) + " (" + reason + ")", false);
    }
    for (auto& s : sessions_) {
        s->closeAfterFlush();
    }
    shutdownStep(0);
}

void ArenaServer::shutdownStep(int round) {
    bool done = true;
    for (auto& s : sessions_) {
        done = done && !s->isOpen();
    }
    for (auto& p : processes_) {
        done = done && p->exited();
    }
    if (done || round > kGraceRounds + kTermRounds) {
        for (auto& p : processes_) {
            if (!p->exited()) {
                log_("\"" + p->command() + "\" would not end; killed", true);
                p->kill();
            }
        }
        phase_ = Phase::Done;
        return;  // nothing is left pending: io.run() returns
    }
    if (round == kGraceRounds) {
        for (auto& s : sessions_) {
            if (s->isOpen()) {
                s->abort("did not take its last replies");
            }
        }
        for (auto& p : processes_) {
            p->terminate();
        }
    }
    shutdownTimer_.expires_after(kShutdownPoll);
    shutdownTimer_.async_wait([this, round](const asio::error_code& ec) {
        if (!ec) {
            shutdownStep(round + 1);
        }
    });
}

void ArenaServer::showProgress(bool last) {
    if (!options_.progress || !game_) {
        return;
    }
    const auto now = Clock::now();
    if (!last && now - lastProgress_ < kProgressEvery) {
        return;
    }
    lastProgress_ = now;
    std::string text =
        "\rtick " + std::to_string(game_->tick()) + "/" + std::to_string(options_.ticks);
    char mass[32];
    for (std::size_t p = 0; p < infos_.size(); ++p) {
        const Cloud* t = game_->thunderstorm(static_cast<std::int32_t>(p));
        if (t != nullptr) {
            std::snprintf(mass, sizeof mass, "%.1f", static_cast<double>(t->state.mass));
        } else {
            std::snprintf(mass, sizeof mass, "out");
        }
        text += "  " + infos_[p].name + " " + mass;
    }
    text += "\033[K";
    if (last) {
        text += "\n";
    }
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace nimbus::arena
