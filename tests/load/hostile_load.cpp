// nimbus-hostile-load: a game of builtins and a real nimbus-bot while hostile clients attack the
// arena (loopback only, bounded in time and count): seated players flooding WIND (non-finite,
// absurd and zero winds) and GET_STATE, one that never reads, junk and bad names, over-long
// lines, slowloris clients and connect/close storms. Prints the figures (tick lag, catch-up,
// peak memory, replay size); with --check it fails unless the replay verifies, every honest wind
// was accepted, the peak memory stayed under kHostileLoadMemoryBytes and the game kept its tick
// schedule on average.
//   nimbus-hostile-load ARENA BOT [--attackers N] [--ticks N] [--tick-ms N] [--out DIR] [--check]
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "arena/limits.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
    std::string arena;
    std::string bot;
    int attackers = 64;
    int seated = 4;  // attackers that take a seat and flood from inside the game
    int ticks = 600;
    int tickMs = 16;
    std::string out = "hostile-load";
    bool check = false;
};

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads whatever is there without waiting; false once the connection is gone.
bool drain(int fd) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

void pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// One attacker until `stop`; its role comes from its number.
void attack(int id, int port, int seated, const std::atomic<bool>& stop) {
    std::mt19937 rng(static_cast<unsigned>(id) * 7919u + 1u);
    const int role = id < seated ? 0 : (id - seated) % 6 + 1;
    int fd = -1;
    int storms = 0;
    auto reconnect = [&] {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = connectTo(port);
    };
    reconnect();
    if (role == 0 && fd >= 0) {
        // Seated: waits for the start (its NAME reply), then floods from inside the game.
        sendAll(fd, "NAME attacker-" + std::to_string(id) + "\n");
        char c = 0;
        while (!stop && ::recv(fd, &c, 1, 0) == 1 && c != '\n') {
        }
    }
    while (!stop) {
        if (fd < 0) {
            pause(50);
            reconnect();
            continue;
        }
        bool alive = true;
        switch (role) {
            case 0: {  // seated: floods of winds (non-finite, absurd, zero) and states; reads
                std::string burst;
                for (int i = 0; i < 50; ++i) {
                    burst += "WIND nan 0\nWIND 0 inf\nWIND 1e39 -1e39\nWIND 0 0\nWIND 1e-45 0\n"
                             "GET_STATE\nWIND 5000 5000\n";
                }
                alive = sendAll(fd, burst) && drain(fd);
                pause(2);
                break;
            }
            case 1: {  // junk: random bytes, bad names, unknown commands, numbers at the limits
                std::string junk;
                for (int i = 0; i < 64; ++i) {
                    junk.push_back(static_cast<char>(rng() % 256 == '\n' ? 'x' : rng() % 256));
                }
                junk += "\nNAME caf\xe9\nNAME " + std::string(200, 'n') +
                        "\nWIND nan nan\nGET_STATE 1\nWIND 1e400 -1e400\nBEGIN_STATE -1\n\n";
                alive = sendAll(fd, junk) && drain(fd);
                pause(5);
                break;
            }
            case 2:  // over-long lines: dropped, then again
                alive = sendAll(fd, std::string(nimbus::arena::kMaxLineBytes + 100, 'A'));
                if (!alive || !drain(fd)) {
                    reconnect();
                    alive = true;
                }
                pause(20);
                break;
            case 3:  // slowloris: one byte now and then, never a line feed
                alive = sendAll(fd, "G");
                pause(100);
                break;
            case 4:  // storms: connect and close, bounded
                if (storms < 400) {
                    ++storms;
                    reconnect();
                } else {
                    pause(50);
                }
                break;
            case 5: {  // a flood of requests that never reads its replies
                alive = sendAll(fd, std::string(4000, '\n') + "GET_STATE\nGET_STATE\n");
                pause(5);
                break;
            }
            default: {  // names in a full lobby, commands before a name
                alive = sendAll(fd, "NAME x\nWIND 1 1\nGET_STATE\n") && drain(fd);
                pause(10);
                break;
            }
        }
        if (!alive) {
            reconnect();
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

long long peakMemory(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atoll(line.c_str() + 6) * 1024;
        }
    }
    return -1;
}

struct Run {
    int exitCode = -1;
    int verifyCode = -1;
    long long peakBytes = 0;
    long long replayBytes = 0;
    double gameSeconds = 0.0;
    std::string tickLine;
    nlohmann::json results;
};

pid_t spawn(const std::vector<std::string>& args, int out, int err) {
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, out, 1);
    posix_spawn_file_actions_adddup2(&files, err, 2);
    pid_t pid = -1;
    posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

int waitExit(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Run play(const Options& o, int attackers, const std::string& dir) {
    fs::create_directories(dir);
    const int seated = attackers > 0 ? o.seated : 0;
    const std::vector<std::string> args = {
        o.arena,       "--port",          "0",
        "--seed",      "11",              "--ticks",
        std::to_string(o.ticks),          "--tick-ms",
        std::to_string(o.tickMs),         "--players",
        std::to_string(3 + seated),       "--lobby-seconds",
        "20",          "--replay",        dir + "/replay.jsonl.gz",
        "--results",   dir + "/results.json", "--log-dir",
        dir,           o.bot,             "builtin:greedy",
        "builtin:idle"};
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return {};
    }
    const int devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t arena = spawn(args, devnull, pipeEnds[1]);
    ::close(pipeEnds[1]);
    ::close(devnull);
    Run run;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    std::atomic<long long> peak{0};
    std::thread watcher([&] {
        while (!stop) {
            const long long m = peakMemory(arena);
            if (m > peak) {
                peak = m;
            }
            pause(50);
        }
    });
    FILE* err = ::fdopen(pipeEnds[0], "r");
    char line[1024];
    Clock::time_point started{};
    Clock::time_point over{};
    while (std::fgets(line, sizeof line, err) != nullptr) {
        const std::string text(line);
        if (const auto at = text.find("listening on 127.0.0.1:"); at != std::string::npos) {
            const int port = std::atoi(text.c_str() + at + 23);
            for (int i = 0; i < attackers; ++i) {
                threads.emplace_back(attack, i, port, seated, std::cref(stop));
            }
        } else if (text.find("game starts") != std::string::npos) {
            started = Clock::now();
        } else if (text.find("game over at tick") != std::string::npos) {
            over = Clock::now();
        } else if (text.find("tick lag") != std::string::npos) {
            run.tickLine = text.substr(text.find("tick lag"));
            run.tickLine.pop_back();
        }
    }
    std::fclose(err);
    run.exitCode = waitExit(arena);
    stop = true;
    for (std::thread& t : threads) {
        t.join();
    }
    watcher.join();
    run.peakBytes = peak;
    run.gameSeconds = std::chrono::duration<double>(over - started).count();
    std::error_code ec;
    run.replayBytes = static_cast<long long>(fs::file_size(dir + "/replay.jsonl.gz", ec));
    const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    run.verifyCode = waitExit(spawn({o.arena, "--verify", dir + "/replay.jsonl.gz"}, quiet, quiet));
    ::close(quiet);
    std::ifstream in(dir + "/results.json");
    run.results = nlohmann::json::parse(in, nullptr, false);
    return run;
}

void print(const char* title, const Run& r) {
    std::printf("%-18s exit %d, verify %d, game %.2f s, %s, peak memory %.1f MiB, replay %.1f KiB\n",
                title, r.exitCode, r.verifyCode, r.gameSeconds, r.tickLine.c_str(),
                static_cast<double>(r.peakBytes) / 1048576.0,
                static_cast<double>(r.replayBytes) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    Options o;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (a == "--attackers") {
            o.attackers = std::atoi(next().c_str());
        } else if (a == "--ticks") {
            o.ticks = std::atoi(next().c_str());
        } else if (a == "--tick-ms") {
            o.tickMs = std::atoi(next().c_str());
        } else if (a == "--out") {
            o.out = next();
        } else if (a == "--check") {
            o.check = true;
        } else {
            rest.push_back(a);
        }
    }
    if (rest.size() != 2 || o.ticks < 1 || o.tickMs < 1 || o.attackers < 0) {
        std::fprintf(stderr, "usage: nimbus-hostile-load ARENA BOT [--attackers N] [--ticks N] "
                             "[--tick-ms N] [--out DIR] [--check]\n");
        return 2;
    }
    o.arena = rest[0];
    o.bot = rest[1];
    o.seated = std::min(o.seated, o.attackers);
    Run calm;
    if (!o.check) {
        calm = play(o, 0, o.out + "/calm");
        print("without attackers", calm);
    }
    const Run hostile = play(o, o.attackers, o.out + "/hostile");
    print(("with " + std::to_string(o.attackers) + " attackers").c_str(), hostile);
    if (!o.check) {
        return 0;
    }
    int failures = 0;
    auto expect = [&](bool holds, const std::string& what) {
        if (!holds) {
            std::fprintf(stderr, "hostile load: %s\n", what.c_str());
            ++failures;
        }
    };
    expect(hostile.exitCode == 0, "the arena exited " + std::to_string(hostile.exitCode));
    expect(hostile.verifyCode == 0, "the replay does not verify");
    expect(hostile.peakBytes > 0 && hostile.peakBytes < nimbus::arena::kHostileLoadMemoryBytes,
           "peak memory " + std::to_string(hostile.peakBytes) + " bytes");
    // The schedule's average: the game took about its nominal length (generous for loaded CI).
    const double nominal = o.ticks * o.tickMs / 1000.0;
    expect(hostile.gameSeconds > 0.0 && hostile.gameSeconds < nominal * 1.5 + 2.0,
           "the game took " + std::to_string(hostile.gameSeconds) + " s for a nominal " +
               std::to_string(nominal) + " s");
    int honest = 0;
    bool botWinds = false;
    if (hostile.results.is_object()) {
        for (const auto& p : hostile.results["players"]) {
            if (p["kind"] == "bot" || p["kind"] == "builtin") {
                ++honest;
                expect(p["rejected_winds"] == 0, p["name"].get<std::string>() +
                                                     " had winds refused: " + p.dump());
                botWinds = botWinds || (p["kind"] == "bot" && p["winds"].get<long long>() > 0);
            }
        }
    }
    expect(honest == 3, "the three honest players are not all in the results");
    expect(botWinds, "nimbus-bot blew no wind");
    return failures == 0 ? 0 : 1;
}
