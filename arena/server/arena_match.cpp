// The match loop: the start, the ticks on their schedule (late ones caught up), the end, and the
// orderly shutdown of connections and processes.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "arena/server/arena_server.hpp"
#include "arena/server/tick_schedule.hpp"

namespace nimbus::arena {

namespace {

constexpr auto kShutdownPoll = std::chrono::milliseconds(50);
constexpr int kGraceRounds = 40;  // 2 s for connections to flush and processes to exit
constexpr int kTermRounds = 20;   // then 1 s after SIGTERM before SIGKILL
constexpr auto kProgressEvery = std::chrono::milliseconds(100);
constexpr std::int64_t kUnpacedBatch = 500;  // unpaced ticks between two turns of the event loop
// ... or fewer when they take longer than this (big games), so that a signal is heard at once.
constexpr auto kUnpacedSlice = std::chrono::milliseconds(20);
// Time for a signal that has ended a wait for a FIFO's reader to reach the event loop.
constexpr auto kSignalHeard = std::chrono::milliseconds(100);

}  // namespace

void ArenaServer::startGame() {
    if (phase_ != Phase::Lobby || roster_.empty()) {
        return;
    }
    phase_ = Phase::Running;
    lobbyTimer_.cancel();
    watchTimer_.cancel();
    launchTimer_.cancel();
    noteAbsentBots();
    numberByPlace();
    GameSettings settings;
    settings.seed = options_.seed;
    settings.ticks = options_.ticks;
    settings.rainclouds = options_.rainclouds;
    settings.players = static_cast<std::int32_t>(roster_.size());
    game_ = std::make_unique<Game>(settings);
    const bool signalled = !openReplay();
    recordTick();
    budgets_.assign(roster_.size(), StateBudget{});
    log_("game starts: " + std::to_string(settings.players) + " players, " +
             std::to_string(settings.rainclouds) + " rainclouds, " +
             std::to_string(settings.ticks) + " ticks of " + std::to_string(options_.tickMs) +
             " ms",
         false);
    start_ = Clock::now();
    lastProgress_ = start_;
    greetPlayers();
    if (signalled) {
        // The loop hears the signal first, and it ends the game before a tick is played.
        tickTimer_.expires_after(kSignalHeard);
        tickTimer_.async_wait([this](const asio::error_code& ec) {
            if (!ec && phase_ == Phase::Running) {
                scheduleTick();
            }
        });
        return;
    }
    scheduleTick();
}

bool ArenaServer::openReplay() {
    if (options_.replayPath.empty()) {
        return true;
    }
    // A FIFO waits here for its reader; a signal ends the wait, and then the game.
    util::FileError error;
    replayFile_ = ReplayFile::create(options_.replayPath, error);
    if (replayFile_) {
        replayEncoder_ = std::make_unique<ReplayEncoder>(*game_);
        replayFile_->append(ReplayEncoder::header(*game_, infos_, options_.tickMs));
        return true;
    }
    replay_.problem = error.message;
    log_(replay_.problem + "; the game goes on without its replay", true);
    return error.code != EINTR;
}

void ArenaServer::greetPlayers() {
    // Every name is accepted before the lines any player sent while held are handed over.
    for (std::size_t p = 0; p < roster_.size(); ++p) {
        if (roster_[p].session) {
            roster_[p].session->send(nameAccepted(infos_[p].name));
        }
    }
    for (std::size_t p = 0; p < roster_.size(); ++p) {
        if (roster_[p].session) {
            roster_[p].session->release();
        }
    }
}

void ArenaServer::scheduleTick() {
    if (unpaced_ || !anyBotConnected()) {
        // No external client is connected: nothing to wait for. The physics does not depend on
        // the pacing, so the game is the same, only sooner.
        if (!unpaced_) {
            unpaced_ = true;
            log_("no client connected: playing the remaining ticks unpaced", false);
        }
        asio::post(io_, [this] {
            if (phase_ == Phase::Running) {
                onTick();
            }
        });
        return;
    }
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
    const std::chrono::milliseconds period(options_.tickMs);
    const auto elapsed = Clock::now() - start_;
    const std::int64_t due = unpaced_ ? game_->tick() + kUnpacedBatch : ticksDue(elapsed, period);
    if (!unpaced_) {
        tickStats_.record(elapsed - tickDueAt(game_->tick() + 1, period), due - game_->tick());
    }
    const auto sliceEnd = Clock::now() + kUnpacedSlice;
    while (phase_ == Phase::Running && !game_->over() && game_->tick() < due &&
           (!unpaced_ || Clock::now() < sliceEnd)) {
        for (std::size_t p = 0; p < roster_.size(); ++p) {
            if (roster_[p].builtin) {
                const auto player = static_cast<std::int32_t>(p);
                if (auto w = builtinWind(*roster_[p].builtin, *game_, player)) {
                    game_->queueWind(player, w->wx, w->wy);
                }
            }
        }
        game_->step();
        recordTick();
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
    if (replayFile_) {
        replayFile_->flushIfDue();
        giveUpFailedReplay();
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

void ArenaServer::endGame(const std::string& reason) {
    if (phase_ >= Phase::Ending) {
        return;
    }
    const bool wasRunning = phase_ == Phase::Running;
    if (phase_ == Phase::Lobby) {
        noteAbsentBots();
    }
    phase_ = Phase::Ending;
    endReason_ = reason;
    tickTimer_.cancel();
    lobbyTimer_.cancel();
    watchTimer_.cancel();
    launchTimer_.cancel();
    asio::error_code ignored;
    acceptor_.close(ignored);
    acceptRetryTimer_.cancel();
    usageTimer_.cancel();
    if (wasRunning) {
        finishReplay();
        showProgress(true);
        log_("game over at tick " + std::to_string(game_->tick()) + " (" + reason + ")", false);
        log_(tickStats_.summary(), false);
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
        finishNow();
        return;
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

void ArenaServer::finishNow() {
    for (auto& s : sessions_) {
        s->abort("cut off at the end");
    }
    for (auto& p : processes_) {
        if (!p->exited()) {
            p->kill();
        }
    }
    shutdownTimer_.cancel();
    // The signals stay caught (see collectLateSignals): one now must not cut the final writes.
    signals_.cancel();
    phase_ = Phase::Done;  // nothing is left pending: io.run() returns
}

void ArenaServer::collectLateSignals() {
    io_.restart();
    int before = 0;
    do {
        before = signalsReceived_;
        waitForSignal();
        io_.poll();
    } while (signalsReceived_ != before);
    signals_.cancel();
    io_.poll();
}

// The tick's line of the replay; the game's logs are forgotten either way, so that memory does not
// grow with the game.
void ArenaServer::recordTick() {
    if (replayFile_) {
        replayLine_.clear();
        replayEncoder_->appendTick(*game_, replayLine_);
        replayFile_->append(replayLine_);
    }
    game_->forgetLogs();
}

void ArenaServer::finishReplay() {
    if (!replayFile_) {
        return;
    }
    replayFile_->append(ReplayEncoder::endLine(*game_, endReason_));
    const std::string where = replayFile_->where();
    replay_.problem = replayFile_->finish();
    replayFile_.reset();
    const bool whole = replay_.problem.empty();
    replay_.state = whole ? ReplayState::Whole : ReplayState::Partial;
    replay_.path = whole ? options_.replayPath : where;
    if (!whole) {
        log_(replay_.problem, true);
    }
}

// A write of the replay failed (a full disk, say): said at once, and the replay is given up; what
// was written stays (a readable partial replay) and the game goes on.
void ArenaServer::giveUpFailedReplay() {
    if (!replayFile_->failed()) {
        return;
    }
    replay_.state = ReplayState::Partial;
    replay_.path = replayFile_->where();
    replay_.problem = replayFile_->finish();
    replayFile_.reset();
    log_(replay_.problem + "; the game goes on without its replay (" + replay_.path +
             " keeps what was written)",
         true);
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
    std::vector<ProgressEntry> entries;
    for (std::size_t p = 0; p < infos_.size(); ++p) {
        const Cloud* t = game_->thunderstorm(static_cast<std::int32_t>(p));
        entries.push_back({infos_[p].name, t != nullptr ? t->state.mass : 0.0f, t != nullptr});
    }
    // One column short of the width, so that the terminal never wraps the line.
    const std::size_t width = std::max<std::size_t>(terminalWidth(STDOUT_FILENO), 2) - 1;
    progressLine_.show(progressText(game_->tick(), options_.ticks, entries, width));
    if (last) {
        progressLine_.finish();
    }
}

}  // namespace nimbus::arena
