// The server's frame: listening, accepting connections and handing their lines on. The lobby and
// its seats are in arena_lobby.cpp, the bot processes in arena_bots.cpp, the match loop in
// arena_match.cpp.
#include "arena/server/arena_server.hpp"

#include <cstdio>
#include <stdexcept>

#include "arena/server/peer_process.hpp"

#include "arena/server/protocol.hpp"

namespace nimbus::arena {

namespace {

constexpr auto kAcceptRetry = std::chrono::milliseconds(100);  // pause after a failed accept

}  // namespace

ArenaServer::ArenaServer(asio::io_context& io, ArenaOptions options, ArenaLog log)
    : io_(io),
      options_(std::move(options)),
      // A log line printed while the progress line is shown starts on a fresh line.
      log_([this, inner = std::move(log)](const std::string& text, bool warning) {
          progressLine_.interrupt();
          inner(text, warning);
      }),
      acceptor_(io),
      tickTimer_(io),
      lobbyTimer_(io),
      watchTimer_(io),
      launchTimer_(io),
      shutdownTimer_(io),
      acceptRetryTimer_(io),
      usageTimer_(io),
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
    waitForSignal();
    log_("listening on 127.0.0.1:" + std::to_string(port()) + ", seed " +
             std::to_string(options_.seed),
         false);
    for (std::size_t i = 0; i < options_.bots.size(); ++i) {
        const std::string& bot = options_.bots[i];
        const auto place = static_cast<std::int32_t>(i);
        if (auto kind = parseBuiltin(bot)) {
            const std::int32_t p = addPlayer(builtinName(*kind), "builtin", "", "", place);
            roster_[p].builtin = kind;
            ++builtins_;
        } else {
            commands_.push_back(bot);
            commandPlaces_.push_back(place);
        }
    }
    accept();
    if (options_.sandbox) {
        botWatch_ = std::make_unique<BotWatch>(*options_.sandbox);
    }
    launchNext();
    watchLobby();
    watchUsage();
    // The lobby ends after --lobby-seconds whatever happens: with the players named by then, or
    // with no game at all.
    lobbyTimer_.expires_after(std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options_.lobbySeconds)));
    lobbyTimer_.async_wait([this](const asio::error_code& ec) {
        if (ec || phase_ != Phase::Lobby) {
            return;
        }
        if (roster_.empty()) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", options_.lobbySeconds);
            log_("no player named itself within " + std::string(seconds) + " s", true);
            endGame("no_players");
            return;
        }
        startGame();
    });
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
        sessions_.push_back(session);
        session->start();
        accept();
    });
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
        onLobbyLine(session, cmd);
        return;
    }
    StateBudget& budget = budgets_[session.player];
    const Reply reply = referee(*game_, session.player, options_.tickMs, budget, cmd);
    if (reply.ruling == Ruling::OverBudget && budget.refused == 1) {
        log_(session.label + " is over its command budget", true);
    }
    session.send(reply.text);
}

void ArenaServer::waitForSignal() {
    signals_.async_wait([this](const asio::error_code& ec, int signal) {
        if (!ec) {
            onSignal(signal);
        }
    });
}

void ArenaServer::onSignal(int signal) {
    ++signalsReceived_;
    if (phase_ < Phase::Ending) {
        interruptedBy_ = signal;
        log_("interrupted", true);
        endGame("interrupted");
        if (phase_ == Phase::Ending) {
            waitForSignal();  // a second signal cuts the shutdown short
        }
    } else if (phase_ == Phase::Ending) {
        interruptedBy_ = interruptedBy_ != 0 ? interruptedBy_ : signal;
        log_("interrupted again: ending now", true);
        finishNow();
    } else {
        // During the final writes (collectLateSignals): they are finished all the same.
        interruptedBy_ = interruptedBy_ != 0 ? interruptedBy_ : signal;
    }
}

void ArenaServer::onClosed(Session& session) {
    const std::int32_t p = session.player;
    if (p >= 0 && phase_ < Phase::Ending) {
        // A player that leaves while its cloud is in the game is disconnected at this tick: its
        // cloud stays and drifts. One swallowed before has already left the game.
        const bool in = game_ == nullptr || !game_->isOut(p);
        if (in && infos_[p].leftAtTick < 0) {
            infos_[p].leftAtTick = game_ != nullptr ? game_->tick() : 0;
            log_(session.label + " disconnected at tick " + std::to_string(infos_[p].leftAtTick),
                 false);
        }
    }
    // Decided outside the session's own call chain.
    asio::post(io_, [this, id = session.id()] {
        // A connection that never named itself leaves nothing behind.
        std::erase_if(sessions_, [id](const std::shared_ptr<Session>& s) {
            return s->id() == id && s->player < 0 && !s->isOpen();
        });
        if (phase_ == Phase::Running && !unpaced_ && !anyBotConnected()) {
            // Nobody is left to wait for: the rest of the game runs unpaced.
            tickTimer_.cancel();
            scheduleTick();
        }
    });
}

}  // namespace nimbus::arena
