#!/usr/bin/env python3
"""The sandbox against a gallery of hostile bots (tests/sandbox/bots/): each attack plays a
sandboxed game beside builtin:greedy while a second sandboxed game runs beside it (a quiet bot and
builtin:greedy), the attack's other target. Every attack must fail, no other player's results may
change (every game here is the reference game: nobody blows a wind but greedy, so its physics is
the same to the bit), and a bot over a limit must be stopped with its reason in its results.
Without bwrap --sandbox refuses to start. Needs root and bwrap (else skipped, exit 77).
Usage: gallery_test.py ARENA WORKDIR"""
import concurrent.futures
import json
import os
import random
import shutil
import socket
import subprocess
import sys

arena, work = sys.argv[1:3]
bots = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bots")
player = os.path.join(bots, "player.py")
os.makedirs(work, exist_ok=True)
GAME = ["--seed", "3", "--ticks", "300", "--tick-ms", "16", "--quiet"]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, flush=True)


# Without bwrap (or without root) --sandbox refuses to start, before any game.
refused = subprocess.run([arena, "--sandbox", "--results", os.path.join(work, "refused.json"),
                          "builtin:idle"], env={"PATH": "/nonexistent"}, capture_output=True,
                         text=True, timeout=30)
check(refused.returncode == 2 and "--sandbox needs" in refused.stderr
      and not os.path.exists(os.path.join(work, "refused.json")),
      f"--sandbox without bwrap: exit {refused.returncode}, {refused.stderr!r}")
if os.geteuid() != 0 or shutil.which("bwrap") is None:
    print("skipped: the sandbox needs root and bwrap (Debian's package bubblewrap)")
    sys.exit(77 if not failures else 1)


def start(folder, port, bot, cwd, options=()):
    """A sandboxed game of builtin:greedy and `bot` into `folder`. Every "{arena}" in the bot's
    command is the arena's own pid (a shell that becomes the arena starts it)."""
    os.makedirs(folder, exist_ok=True)
    args = [arena, "--sandbox", *options, "--port", str(port), *GAME, "--results",
            os.path.join(folder, "results.json"), "--log-dir", folder, "builtin:greedy"]
    if "{arena}" in bot:
        command = ["sh", "-c", 'exec "$@" "' + bot.replace("{arena}", "$$") + '"', "sh", *args]
    else:
        command = args + [bot]
    return subprocess.Popen(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True)


def finish(process, what):
    try:
        out, err = process.communicate(timeout=90)
    except subprocess.TimeoutExpired:
        process.kill()
        out, err = process.communicate()
    check(process.returncode == 0, f"{what}: the arena exited {process.returncode}: {err}")
    return err


def rows(folder):
    try:
        results = json.load(open(os.path.join(folder, "results.json")))
    except (OSError, ValueError) as e:
        check(False, f"{folder}: no results: {e}")
        return {}
    return {p["kind"]: p for p in results["players"]}


PLAY = ("final_mass", "peak_mass", "winds", "swallowed", "out_at_tick")
WHOLE = PLAY + ("name", "status", "left_at_tick", "rank", "stop_reason")


def same(row, reference, fields):
    return {f: row.get(f) for f in fields} == {f: reference.get(f) for f in fields}


# The reference game: the quiet player and greedy.
reference_dir = os.path.join(work, "reference")
shutil.rmtree(reference_dir, ignore_errors=True)
finish(start(reference_dir, 20003, f"python3 {player}", work), "the reference game")
reference = rows(reference_dir)
check(reference.get("bot", {}).get("status") == "playing",
      f"the quiet player is in the game to the end: {reference}")
if failures:
    sys.exit(1)  # nothing to compare the attacks with

# A loopback server outside every game.
outside = socket.socket()
outside.bind(("127.0.0.1", 0))
outside.listen(8)
outside.settimeout(0)
marker = f"86400.{random.randrange(10**6):06d}"  # the child left behind sleeps this long

# (attack, its arguments from the case's paths, the limit it must be stopped for or None, more
# arena options). The memory limit is 256 MiB and the CPU share a fifth of a core, so that the
# attacks are over them within the game on a loaded machine too.
CASES = [
    ("fork_bomb.sh", lambda c: [], "process limit"),
    ("memory.py", lambda c: [], "memory limit", ["--sandbox-memory", "256"]),
    ("spin.sh", lambda c: [], "cpu limit", ["--sandbox-cpu", "0.2"]),
    ("read_files.sh", lambda c: ["@" + c["victim"] + "/player.py", "@" + c["victim_log"],
                                 "@" + c["tournament"] + "/tournament.json", "@" + c["other"],
                                 "@" + reference_dir + "/results.json"], None),
    ("forge_results.sh", lambda c: ["@" + c["tournament"], "@" + c["games"] + "/1",
                                    "@" + c["other"]], None),
    ("connect.py", lambda c: ["20002", str(outside.getsockname()[1])], None),
    ("signals.sh", lambda c: ["{arena}", str(c["other_arena"]), str(os.getpid())], None),
    ("fill_disk.sh", lambda c: [], None),
    ("setuid.sh", lambda c: [c["setuid"]], None),
    ("leave_child.sh", lambda c: [marker], None),
]


def play_case(case):
    attack, arguments, limit, options = (case + ([],))[:4]
    base = os.path.join(work, attack.split(".")[0])
    shutil.rmtree(base, ignore_errors=True)
    c = {"tournament": os.path.join(base, "t"), "games": os.path.join(base, "t", "games"),
         "victim": os.path.join(base, "entrants", "victim")}
    c["other"] = os.path.join(c["games"], "2")
    c["victim_log"] = os.path.join(c["other"], "nimbus-arena-3-bot1.log")
    os.makedirs(c["victim"])
    shutil.copy(player, c["victim"])
    os.makedirs(c["tournament"])
    with open(os.path.join(c["tournament"], "tournament.json"), "w") as f:
        f.write('{"secret": "the tournament"}\n')
    c["setuid"] = os.path.join(base, "entrants", "setuid", "id")
    os.makedirs(os.path.dirname(c["setuid"]))
    shutil.copy("/usr/bin/id", c["setuid"])
    os.chmod(c["setuid"], 0o4755)
    other = start(c["other"], 20002, f"python3 {c['victim']}/player.py", base)
    c["other_arena"] = other.pid
    bot = " ".join([f"python3 {player} {attack}"] + arguments(c))
    game = start(os.path.join(c["games"], "1"), 20001, bot, base, options)
    log = finish(game, attack) + finish(other, attack + ", the game beside")
    os.remove(c["setuid"])
    return attack, limit, base, c, log


def judge(attack, limit, base, c, arena_log):
    game, other = rows(os.path.join(c["games"], "1")), rows(c["other"])
    offender = game.get("bot", {})
    bot_log = open(offender["log"]).read() if offender.get("log") else ""
    print(f"--- {attack}: stopped for {offender.get('stop_reason')}\n{bot_log}{arena_log}",
          flush=True)
    check("BREACH" not in bot_log, f"{attack}: the attack got through: {bot_log}")
    check(same(game.get("builtin", {}), reference["builtin"], WHOLE),
          f"{attack}: greedy's results changed: {game.get('builtin')}")
    check(same(offender, reference["bot"], PLAY), f"{attack}: its cloud moved otherwise: {offender}")
    check(offender.get("stop_reason") == limit
          and offender.get("status") == ("disconnected" if limit else reference["bot"]["status"]),
          f"{attack}: stopped for {offender.get('stop_reason')}, expected {limit}")
    check(limit is not None or "the attack ended: 0" in bot_log,
          f"{attack}: the attack did not run to its end: {bot_log}")
    for kind in ("builtin", "bot"):
        check(same(other.get(kind, {}), reference[kind], WHOLE),
              f"{attack}: the game beside changed: {other.get(kind)}")
    if attack == "forge_results.sh":
        check(not os.path.exists(os.path.join(c["tournament"], "results.json")),
              "a forged results.json reached the tournament folder")
    if attack == "fill_disk.sh":
        check(not os.path.exists(os.path.join(base, "fill")), "the disk filled the real folder")


with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
    for played in pool.map(play_case, CASES):
        judge(*played)

try:
    intruder, _ = outside.accept()
    check(False, "a bot reached the server outside the games")
except BlockingIOError:
    pass
def command_line(pid):
    try:
        return open(f"/proc/{pid}/cmdline", "rb").read()
    except OSError:
        return b""


left = [pid for pid in os.listdir("/proc") if pid.isdigit() and marker.encode() in command_line(pid)]
for pid in left:
    os.kill(int(pid), 9)
check(not left, f"processes left behind after the games: {left}")
print(f"{len(CASES)} attacks, {len(failures)} failed")
sys.exit(1 if failures else 0)
