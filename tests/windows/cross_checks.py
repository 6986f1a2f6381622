#!/usr/bin/env python3
"""The Windows bot checked against the Linux build, run as its users run it.

    cross_checks.py CHECK WINE_RUN PREFIX WINDOWS_BIN LINUX_BIN WORKDIR

CHECK is one of:
  digest  nimbus-plan-digest.exe under Wine prints what the Linux build prints, scenario by
          scenario, for 3000 seeded scenarios
  game    the Linux arena plays nimbus-bot.exe under Wine against builtins: it names itself, its
          winds are accepted, it exits 0 when the arena ends the game, and the replay verifies
  reset   a Linux server that resets the connection: the bot reports Windows' own error code
  package scripts/package --no-build makes both release archives with what they must hold

WINE_RUN and PREFIX are cmake/wine-run and the build's Wine prefix. Without the Linux programs
(LINUX_BIN is build/release/bin: build the release preset first) the check is skipped (77).
"""
import glob
import json
import os
import shlex
import socket
import struct
import subprocess
import sys
import tarfile
import threading
import time
import zipfile

SKIP = 77


def under_wine(wine_run, prefix, program, *args, **kwargs):
    return subprocess.run([wine_run, prefix, program, *args], capture_output=True, timeout=300,
                          **kwargs)


def check_digest(wine_run, prefix, windows_bin, linux_bin, work):
    args = ["--count", "3000", "--each"]
    linux = subprocess.run([os.path.join(linux_bin, "nimbus-plan-digest"), *args],
                           capture_output=True, timeout=300, check=True).stdout
    windows = under_wine(wine_run, prefix, os.path.join(windows_bin, "nimbus-plan-digest.exe"),
                         *args, check=True).stdout.replace(b"\r\n", b"\n")
    linux_lines, windows_lines = linux.splitlines(), windows.splitlines()
    for i, (a, b) in enumerate(zip(linux_lines, windows_lines)):
        assert a == b, f"line {i}: Linux {a!r}, Windows {b!r} (nimbus-plan-digest --show INDEX)"
    assert len(linux_lines) == len(windows_lines) > 3000, (len(linux_lines), len(windows_lines))
    print(linux_lines[-1].decode())


def check_game(wine_run, prefix, windows_bin, linux_bin, work):
    arena = os.path.join(linux_bin, "nimbus-arena")
    results, replay = os.path.join(work, "results.json"), os.path.join(work, "game.replay.json")
    bot = " ".join(shlex.quote(p) for p in (wine_run, prefix,
                                            os.path.join(windows_bin, "nimbus-bot.exe")))
    command = f'{bot}; echo "nimbus-bot exit status: $?"'
    run = subprocess.run([arena, "--port", "0", "--seed", "20261208", "--ticks", "1500",
                          "--tick-ms", "8", "--lobby-seconds", "60", "--quiet", "--results",
                          results, "--replay", replay, "--log-dir", work, command,
                          "builtin:greedy", "builtin:idle"],
                         capture_output=True, text=True, timeout=300)
    print(run.stdout, run.stderr)
    assert run.returncode == 0, f"the arena exited with {run.returncode}"
    players = json.load(open(results))["players"]
    bots = [p for p in players if p["kind"] == "bot"]
    assert len(bots) == 1 and len(players) == 3, players
    row = bots[0]
    assert row["name"].startswith("Varnolt"), f"it named itself {row['name']!r}"
    assert row["winds"] > 0, "it blew winds"
    assert row["rejected_winds"] == 0, f"{row['rejected_winds']} winds refused"
    log = open(row["log"], "rb").read()
    print(log.decode(errors="replace"))
    assert log.startswith(b"WSAStartup result: 0\r\nsocket up and running\r\nsending NAME\r\n"
                          b"recieved "), "the trace starts as on Linux, with CR LF line ends"
    assert log.endswith(b"WSACleanup done\r\nnimbus-bot exit status: 0\n"), \
        "it ended with the game, exit status 0"
    verify = subprocess.run([arena, "--verify", replay], capture_output=True, text=True,
                            timeout=300)
    assert verify.returncode == 0, verify.stdout + verify.stderr


def check_reset(wine_run, prefix, windows_bin, linux_bin, work):
    listener = socket.create_server(("127.0.0.1", 0))
    listener.settimeout(60)

    def serve():
        connection, _ = listener.accept()
        connection.recv(64)  # the NAME line
        # The bot is waiting for the reply by now. (Wine reports a reset that arrives while it is
        # still setting up that wait as a plain close: a Wine quirk, not one of Windows.)
        time.sleep(0.3)
        connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        connection.close()

    server = threading.Thread(target=serve)
    server.start()
    bot = under_wine(wine_run, prefix, os.path.join(windows_bin, "nimbus-bot.exe"), "--port",
                     str(listener.getsockname()[1]))
    server.join()
    print(bot.stdout.decode(errors="replace"))
    assert bot.stdout == (b"WSAStartup result: 0\r\nsocket up and running\r\nsending NAME\r\n"
                          b"socket recv failed: 10054, disabling socket\r\nrecieved \r\n"
                          b"WSACleanup done\r\n"), bot.stdout
    assert bot.returncode == 0, bot.returncode


def check_package(wine_run, prefix, windows_bin, linux_bin, work):
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    subprocess.run([os.path.join(root, "scripts", "package"), "--no-build", "--out", work,
                    "--linux-build", os.path.dirname(linux_bin),
                    "--windows-build", os.path.dirname(windows_bin)], check=True, timeout=300)
    [zip_path] = glob.glob(os.path.join(work, "nimbus-bot-*-windows-x86_64.zip"))
    with zipfile.ZipFile(zip_path) as z:
        assert sorted(z.namelist()) == ["README-windows.txt", "nimbus-bot.exe"], z.namelist()
        assert z.read("nimbus-bot.exe") == open(os.path.join(windows_bin, "nimbus-bot.exe"),
                                                "rb").read()
        readme = z.read("README-windows.txt")
        assert readme.count(b"\n") == readme.count(b"\r\n") > 20, "CR LF line ends"
        for needed in (b"--port", b"1986", b"NIMBUS_ARENA_PORT", b"10061", b"Exit codes",
                       b"--strategy", b"thrifty", b"keen", b"--list-strategies"):
            assert needed in readme, needed

    [tar_path] = glob.glob(os.path.join(work, "nimbus-*-linux-x86_64.tar.gz"))
    top = os.path.basename(tar_path)[:-len(".tar.gz")]
    with tarfile.open(tar_path) as t:
        everything = t.getmembers()
    members = {m.name[len(top) + 1:]: m for m in everything if m.name.startswith(top)}
    assert len(members) == len(everything), "everything in one folder"
    for program in ("nimbus-bot", "nimbus-arena", "nimbus-tournament"):
        m = members.get("bin/" + program)
        assert m is not None and m.mode & 0o111, f"bin/{program} is there and executable"
    wanted = ["README.md", "examples/python/starter_bot.py"]
    wanted += [os.path.relpath(f, root) for f in glob.glob(os.path.join(root, "docs", "*.md"))]
    wanted += [os.path.relpath(f, root) for pattern in ("*.html", "*.js", "*.css")
               for f in glob.glob(os.path.join(root, "viewer", pattern))]
    missing = [f for f in wanted if f not in members]
    assert not missing, f"missing from the tar.gz: {missing}"
    assert not [n for n in members if "node_modules" in n or "package" in n], "no npm files"


def main():
    check, wine_run, prefix, windows_bin, linux_bin, work = sys.argv[1:7]
    if check in ("digest", "game", "package") and not os.path.exists(os.path.join(linux_bin, "nimbus-arena")):
        print(f"skipped: no Linux build in {linux_bin} (cmake --build --preset release)")
        sys.exit(SKIP)
    os.makedirs(work, exist_ok=True)
    {"digest": check_digest, "game": check_game, "reset": check_reset,
     "package": check_package}[check](
        wine_run, prefix, windows_bin, linux_bin, work)
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
