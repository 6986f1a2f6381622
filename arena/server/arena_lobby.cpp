// The lobby: players name themselves and take seats until the game starts, when the seats are
// full or the lobby time is up. A seat for a bot the arena started is reserved for a connection
// from that bot's process (or its children); the seats beyond the started bots are open to anyone.
#include "arena/server/arena_server.hpp"
#include "arena/server/peer_process.hpp"
#include "arena/server/protocol.hpp"

#include <algorithm>

namespace nimbus::arena {

namespace {

// The name with "-n" after it, cut before the suffix where needed so that the whole stays within
// kMaxNameBytes; the cut never splits a UTF-8 character.
std::string numbered(const std::string& name, int n) {
    const std::string suffix = std::string(1, '-').append(std::to_string(n));
    std::size_t keep = std::min(name.size(), kMaxNameBytes - suffix.size());
    while (keep > 0 && keep < name.size() &&
           (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
        --keep;
    }
    std::string cut(name, 0, keep);
    cut.append(suffix);
    return cut;
}

}  // namespace

void ArenaServer::onLobbyLine(Session& session, const Command& cmd) {
    if (std::string refusal; !refereeLobby(cmd, refusal)) {
        session.send(refusal);
        return;
    }
    if (phase_ != Phase::Lobby) {
        session.send("ERROR game already started\n");
        return;
    }
    if (!session.matched && awaitingBots()) {
        matchProcess(session);
    }
    const std::int32_t process = session.process;
    std::int32_t p = -1;
    if (process >= 0 && !seated_[process]) {
        seated_[process] = true;
        if (!connected_[process]) {
            connected_[process] = true;
            if (static_cast<std::size_t>(process) + 1 == processes_.size()) {
                launchTimer_.cancel();
                launchNext();  // the newest bot has joined: the next one may start
            }
        }
        p = addPlayer(cmd.name, "bot", logPaths_[process], processes_[process]->command(),
                      commandPlaces_[static_cast<std::size_t>(process)]);
    } else if (openTaken_ < openSeats()) {
        ++openTaken_;
        p = addPlayer(cmd.name, "client", "", "",
                      static_cast<std::int32_t>(options_.bots.size()) + openTaken_);
    } else {
        session.send("ERROR seat reserved\n");
        return;
    }
    session.player = p;
    session.label = infos_[p].name;  // its number comes at the start (numberByPlace)
    for (auto& s : sessions_) {
        if (s.get() == &session) {
            roster_[p].session = s;
        }
    }
    session.hold();  // its reply, and everything it sends next, waits for the start
    maybeStart();
}

bool ArenaServer::awaitingBots() const {
    for (std::size_t i = 0; i < processes_.size(); ++i) {
        if (!seated_[i] || !connected_[i]) {
            return true;
        }
    }
    return false;
}

std::int32_t ArenaServer::openSeats() const {
    const auto reserved = static_cast<std::int32_t>(commands_.size());
    return std::max(0, wanted_ - builtins_ - reserved);
}

void ArenaServer::matchProcess(Session& session) {
    session.matched = true;
    Endpoint4 client;
    Endpoint4 arena;
    if (!session.endpoints(client, arena)) {
        return;
    }
    const auto inode = socketInode(client, arena);
    if (!inode) {
        return;
    }
    std::vector<pid_t> roots;
    for (std::size_t i = 0; i < processes_.size(); ++i) {
        roots.push_back(processes_[i]->pid());
        if (!seated_[i] && holdsSocket(roots.back(), *inode)) {
            session.process = static_cast<std::int32_t>(i);  // the started process itself
            return;
        }
    }
    for (const auto& [process, pid] : processFamilies(roots)) {  // its children
        if (holdsSocket(pid, *inode)) {
            session.process = static_cast<std::int32_t>(process);
            return;
        }
    }
}

void ArenaServer::watchLobby() {
    // Ends a lobby that cannot get more of the bots it was given: every started bot has named
    // itself or exited. When all of them exited without a name, their logs tell why.
    if (phase_ != Phase::Lobby) {
        return;
    }
    const bool allStarted = processes_.size() == commands_.size() && !commands_.empty();
    bool allExited = allStarted;
    bool settled = allStarted;
    for (std::size_t i = 0; i < processes_.size(); ++i) {
        const bool exited = processes_[i]->exited();
        bool named = false;
        for (const PlayerInfo& info : infos_) {
            named = named || info.log == logPaths_[i];
        }
        allExited = allExited && exited;
        settled = settled && (exited || named);
    }
    if (allExited && !hasBotPlayers() && !silentExitsReported_) {
        silentExitsReported_ = true;
        log_("every bot exited before naming itself", true);
        reportSilentExits();
    }
    // Nobody else is coming unless seats were left open for clients.
    if (settled && options_.players == 0) {
        if (roster_.empty()) {
            endGame("no_players");
        } else {
            startGame();
        }
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
                                    const std::string& logPath, const std::string& command,
                                    std::int32_t place) {
    std::string name = wanted;
    for (int n = 2;; ++n) {
        bool taken = false;
        for (const PlayerInfo& info : infos_) {
            taken = taken || info.name == name;
        }
        if (!taken) {
            break;
        }
        name = numbered(wanted, n);
    }
    infos_.push_back({name, kind, logPath, command, -1});
    roster_.push_back({});
    roster_.back().place = place;
    log_(name + " (" + kind + ") takes a seat", false);
    return static_cast<std::int32_t>(roster_.size() - 1);
}

// The players in the order their BOTs were given, whatever order they named themselves in, so
// that a tournament that rotates its BOTs rotates the start places (player p starts at place p).
void ArenaServer::numberByPlace() {
    std::vector<std::size_t> order(roster_.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
        return roster_[a].place < roster_[b].place;
    });
    std::vector<Player> roster;
    std::vector<PlayerInfo> infos;
    for (const std::size_t i : order) {
        roster.push_back(std::move(roster_[i]));
        infos.push_back(std::move(infos_[i]));
    }
    roster_ = std::move(roster);
    infos_ = std::move(infos);
    for (std::size_t p = 0; p < roster_.size(); ++p) {
        const std::string number = std::to_string(p);
        if (roster_[p].session) {
            roster_[p].session->player = static_cast<std::int32_t>(p);
            roster_[p].session->label = "player " + number + " (" + infos_[p].name + ")";
        }
        log_("player " + number + " is " + infos_[p].name + " (" + infos_[p].kind + ")", false);
    }
}

void ArenaServer::maybeStart() {
    if (phase_ == Phase::Lobby && static_cast<std::int32_t>(roster_.size()) >= wanted_) {
        startGame();
    }
}

}  // namespace nimbus::arena
