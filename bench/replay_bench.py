#!/usr/bin/env python3
"""The replay's figures (issue 15's goals), for this arena and, side by side, an older one.

Runs each arena as a child and prints its peak memory (the kernel's high-water mark of the
child's resident set), times and file sizes:
  - a long unpaced builtin game (4 idle builtins, 300 rainclouds): the arena's peak memory, then
    --verify's peak memory on its replay (the older arena is run at --old-ticks, since a
    version-1 replay is built in memory and grows with the game);
  - the default game (seed 7, 2 greedy and 2 idle builtins, 40 rainclouds, 3600 ticks): the replay's size;
  - SIGINT a few seconds into the long game: the ticks played until then, the time until the
    arena exits, and whether its replay verifies;
  - the speed of an unpaced game of 300 rainclouds (--speed-ticks, its busiest part, when every
    cloud still moves): ticks per second from start to exit, the replay written;
  - the older arena's replay of the default game, verified by this arena.

  bench/replay_bench.py ARENA [--old OLD_ARENA] [--ticks N] [--old-ticks N] [--work DIR]
"""
import argparse
import json
import os
import signal
import subprocess
import tempfile
import time

LONG = ["--rainclouds", "300", "builtin:idle", "builtin:idle", "builtin:idle", "builtin:idle"]
DEFAULT = ["--ticks", "3600", "--rainclouds", "40",
           "builtin:greedy", "builtin:greedy", "builtin:idle", "builtin:idle"]


def run(argv, stop_after=None, limit=None):
    """Runs argv; returns (exit code, peak MiB, seconds, seconds from SIGINT to exit or None)."""
    start = time.monotonic()
    child = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    sent = None
    while True:
        pid, status, usage = os.wait4(child.pid, os.WNOHANG)
        if pid:
            break
        now = time.monotonic() - start
        if stop_after is not None and sent is None and now >= stop_after:
            child.send_signal(signal.SIGINT)
            sent = time.monotonic()
        if limit is not None and now >= limit:
            child.kill()
        time.sleep(0.01)
    child.returncode = os.waitstatus_to_exitcode(status)  # already reaped
    end = time.monotonic()
    return child.returncode, usage.ru_maxrss / 1024.0, end - start, (end - sent) if sent else None


def size_mb(path):
    return os.path.getsize(path) / 1e6 if os.path.exists(path) else float("nan")


def verify(arena, path):
    """(verdict line, peak MiB, seconds) of --verify."""
    start = time.monotonic()
    child = subprocess.Popen([arena, "--verify", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    out = child.stdout.read().decode(errors="replace").strip().splitlines()
    _, status, usage = os.wait4(child.pid, 0)
    verdict = out[-1].split(": ", 1)[-1] if out else "(nothing)"
    return f"exit {os.waitstatus_to_exitcode(status)}, {verdict}", usage.ru_maxrss / 1024.0, time.monotonic() - start


def ticks_played(results):
    try:
        with open(results) as f:
            return json.load(f).get("ticks_played", 0)
    except (OSError, ValueError):
        return 0


def game(arena, work, name, ticks, args, **kw):
    """Plays a game into work/name.*; returns (run figures, replay path)."""
    replay = os.path.join(work, name + (".replay.json" if kw.pop("old", False) else ".replay.jsonl.gz"))
    argv = [arena, "--port", "0", "--seed", "7", "--quiet", "--replay", replay,
            "--results", os.path.join(work, name + ".results.json")]
    argv += ["--ticks", str(ticks)] if ticks else []
    return run(argv + args, **kw), replay


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("arena")
    p.add_argument("--old", help="an older nimbus-arena (format version 1) to measure beside it")
    p.add_argument("--ticks", type=int, default=1000000, help="the long game's ticks (1,000,000)")
    p.add_argument("--old-ticks", type=int, default=40000, help="the long game's ticks for --old (40,000)")
    p.add_argument("--signal-after", type=float, default=4.0, help="seconds before SIGINT (4)")
    p.add_argument("--speed-ticks", type=int, default=20000, help="the speed game's ticks (20,000)")
    p.add_argument("--work", default=None)
    o = p.parse_args()
    work = o.work or tempfile.mkdtemp(prefix="replay-bench-")
    os.makedirs(work, exist_ok=True)
    sides = [("new", o.arena, o.ticks)] + ([("old", o.old, o.old_ticks)] if o.old else [])
    rows = []

    for side, arena, ticks in sides:
        (code, peak, secs, _), replay = game(arena, work, f"{side}-long", ticks, LONG, old=side == "old")
        rows.append((f"long game, {ticks:,} ticks: arena peak memory", side,
                     f"{peak:.1f} MiB (exit {code}, {secs:.1f} s, replay {size_mb(replay):.1f} MB)"))
        verdict, vpeak, vsecs = verify(arena, replay)
        rows.append((f"long game, {ticks:,} ticks: --verify peak memory", side,
                     f"{vpeak:.1f} MiB ({vsecs:.1f} s; {verdict})"))
    default = {}
    for side, arena, _ in sides:
        (code, peak, secs, _), replay = game(arena, work, f"{side}-default", None, DEFAULT, old=side == "old")
        default[side] = replay
        rows.append(("default game's replay size", side, f"{size_mb(replay):.2f} MB"))
    if "old" in default:
        ratio = os.path.getsize(default["old"]) / os.path.getsize(default["new"])
        rows.append(("default game's replay size", "new/old", f"{ratio:.2f}x smaller"))
    for side, arena, _ in sides:
        (code, peak, secs, stopped), replay = game(arena, work, f"{side}-signal", 1000000, LONG,
                                                   old=side == "old", stop_after=o.signal_after, limit=600)
        verdict = verify(arena, replay)[0] if os.path.exists(replay) else "no replay"
        played = ticks_played(os.path.join(work, f"{side}-signal.results.json"))
        rows.append((f"SIGINT after {o.signal_after:g} s of a long game", side,
                     f"{played:,} ticks played, exit {code} {stopped:.2f} s after the signal "
                     f"(peak {peak:.0f} MiB); {verdict}"
                     if stopped is not None else f"ended before the signal (exit {code})"))
    for side, arena, _ in sides:
        (code, peak, secs, _), replay = game(arena, work, f"{side}-speed", o.speed_ticks, LONG,
                                             old=side == "old")
        rows.append((f"unpaced game, 300 rainclouds, {o.speed_ticks:,} ticks", side,
                     f"{o.speed_ticks / secs:,.0f} ticks/s ({secs:.2f} s to exit, peak {peak:.0f} MiB, "
                     f"replay {size_mb(replay):.1f} MB; exit {code})"))
    if "old" in default:
        verdict, vpeak, _ = verify(o.arena, default["old"])
        rows.append(("old arena's default replay verified by the new", "new", f"{verdict} ({vpeak:.1f} MiB)"))

    width = max(len(r[0]) for r in rows)
    print(f"replay bench (work folder {work})")
    for what, side, figure in rows:
        print(f"{what:<{width}}  {side:<7}  {figure}")


if __name__ == "__main__":
    main()
