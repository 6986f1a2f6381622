#!/usr/bin/env python3
"""What docs/protocol.md and docs/results.md say, checked against the real arena from outside: the
whole session of protocol.md line by line, every documented error text provoked, the limits and
budgets of protocol.md's table at their edges (with what they count in the results), the lobby,
the exit codes, and results.json against docs/results.md's field table.
Usage: conformance_test.py ARENA REPOSITORY WORKDIR"""
import json
import os
import re
import shlex
import socket
import subprocess
import sys
import time

arena, root, work = sys.argv[1:4]
os.makedirs(work, exist_ok=True)
protocol = open(os.path.join(root, "docs", "protocol.md"), encoding="utf-8").read()
results_doc = open(os.path.join(root, "docs", "results.md"), encoding="utf-8").read()
failures = []
errors_seen = set()


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def table_after(text, marker):
    """The rows of the Markdown table after the marker: the first cell, backticks removed -> the
    second."""
    rows = {}
    for line in text[text.index(marker):].splitlines()[1:]:
        if not line.startswith("|"):
            if rows:
                break
            continue
        cells = [c.strip().strip("`") for c in line.strip("|").split("|")]
        if cells[0] not in ("name", "field", "reply") and not cells[0].startswith("---"):
            rows[cells[0]] = cells[1]
    return rows


LIMITS = {k: int(v) for k, v in table_after(protocol, "<!-- constants").items()}
# Every ERROR text the protocol documents (both tables), and those a client cannot see because
# the arena closes the connection at the moment they would apply.
DOCUMENTED_ERRORS = set(re.findall(r"^\| `(ERROR [^`]*)` \|", protocol, re.M))
UNSEEABLE = {"ERROR thunderstorm swallowed", "ERROR game over"}


def is_wind(line):
    """A WIND with two numbers: counted in the results' winds, whatever its reply."""
    words = line.split()
    try:
        return words[:1] == ["WIND"] and len(words) == 3 and None not in map(float, words[1:])
    except ValueError:
        return False


class Client:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.buffer = b""

    def send(self, *lines):
        self.sock.sendall(b"".join((l if isinstance(l, bytes) else l.encode()) + b"\n" for l in lines))

    def line(self, timeout=10):
        """The next line, or None when the connection closed (or nothing came in time)."""
        self.sock.settimeout(timeout)
        while b"\n" not in self.buffer:
            try:
                chunk = self.sock.recv(65536)
            except (socket.timeout, ConnectionResetError):
                return None
            if not chunk:
                return None
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        text = line.decode("utf-8")
        if text.startswith("ERROR"):
            errors_seen.add(text)
            check(len(text) < 32, f"an error reply of fewer than 32 characters: {text!r}")
        return text

    def state(self):
        """Asks for the state; its lines, BEGIN_STATE to END_STATE."""
        self.send("GET_STATE")
        return self.state_lines()

    def state_lines(self):
        lines = [self.line()]
        while lines[-1] not in ("END_STATE", None) and not lines[-1].startswith("ERROR"):
            lines.append(self.line())
        return lines

    def tick(self):
        return int(self.state()[0].split()[1])

    def next_tick(self):
        """Waits, asking, until a new tick begins; this tick has then had one GET_STATE."""
        first = self.tick()
        while True:
            time.sleep(0.005)
            now = self.tick()
            if now != first:
                return now

    def closes(self, timeout=10):
        """True when the arena closes the connection (the lines before the close are skipped)."""
        end = time.time() + timeout
        while time.time() < end:
            if self.line(timeout=max(0.1, end - time.time())) is None:
                return True
        return False


def start(*args):
    """Starts the arena with --port 0 --quiet: the port comes as the line "port N" on stdout."""
    process = subprocess.Popen([arena, "--port", "0", "--quiet", *args], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True, errors="replace")
    line = process.stdout.readline()
    if re.fullmatch(r"seed \d+\n", line):  # the seed picked, when none was given
        line = process.stdout.readline()
    check(re.fullmatch(r"port \d+\n", line) is not None,
          f"--port 0 --quiet prints the port as one line on stdout, not {line!r}")
    return process, int(line.split()[1])


def finish(process, code, what):
    out, err = process.communicate(timeout=120)
    check(process.returncode == code, f"{what}: exit {code}, not {process.returncode}: {err}")
    return out, err


# 1. protocol.md's whole session: its arena command (with slower ticks, which change no physics,
# so that the session's ticks are easy to meet), every '>' line sent, every '<' line compared.
command = re.search(r"A real session with an arena started as\s+```sh\n(.*?)\n```", protocol, re.S)
session = re.search(r"\(`>` is what the bot sends.*?```\n(.*?)```", protocol, re.S)
args = shlex.split(command.group(1))[1:]
tick_ms = 250
args[args.index("--tick-ms") + 1] = str(tick_ms)
results_a = os.path.join(work, "session.results.json")
process, port = start(*args, "--results", results_a)
me = Client(port)
# Each '>' line with its reply; sent in batches (one read of the arena: one tick), a new batch
# where the reply is the state of a later tick, which is waited for.
exchanges = []
for line in session.group(1).splitlines():
    if line.startswith("> "):
        exchanges.append((line[2:], []))
    elif line.startswith("< "):
        exchanges[-1][1].append(line[2:])
batches = []
for sent, reply in exchanges:
    later = re.fullmatch(r"BEGIN_STATE ([1-9]\d*)", reply[0])
    if not batches or later:
        batches.append((int(later.group(1)) if later else 0, []))
    batches[-1][1].append((sent, reply))
winds = refused = 0
for tick, batch in batches:
    while tick > 0 and me.tick() < tick:
        time.sleep(0.01)
    me.send(*[sent for sent, _ in batch])
    for sent, reply in batch:
        for line in reply:
            got = me.line()
            check(got == line, f"protocol.md's session, after {sent!r}: expected {line!r}, got {got!r}")
        winds += is_wind(sent)
        refused += reply[0].startswith("ERROR wind")
check(winds > 0 and len(exchanges) > 5, "protocol.md has its session")

# 2. The documented errors, one probe each, on the session's connection (named, in the game).
probes = [
    ("GET_STATE 1", "ERROR GET_STATE takes no args"),
    ("WIND 1", "ERROR WIND needs two numbers"),
    ("WIND 1 2 3", "ERROR WIND takes two numbers"),
    ("WIND 1 x", "ERROR WIND numbers malformed"),
    ("", "ERROR empty command"),
    ("NAME again", "ERROR already named"),
    (" GET_STATE", "ERROR empty command"),  # no keyword at the start of the line
    ("WIND 1e39 0", "ERROR wind not finite"),
    ("WIND 3.4028235e38 0", "ERROR wind over half the mass"),  # the largest float is finite
    ("WIND 0\t0\r", "OK"),  # a tab separates, a carriage return is ignored, a calm wind is fine
    ("X" * LIMITS["line bytes"], "ERROR unknown command"),  # the longest line is still read
]
for sent, reply in probes:
    me.send(sent)
    got = me.line()
    check(got == reply, f"{sent[:20]!r}: expected {reply!r}, got {got!r}")
    winds += is_wind(sent)
    refused += reply.startswith("ERROR wind")

# 3. The budgets, in a fresh tick: winds, then states (one state was asked for in the tick).
me.next_tick()
me.send("WIND 60 0", *["WIND 0 0"] * LIMITS["winds per tick"])  # a refused wind counts too
replies = [me.line() for _ in range(LIMITS["winds per tick"] + 1)]
check(replies == ["ERROR wind over half the mass"] + ["OK"] * (LIMITS["winds per tick"] - 1)
      + ["ERROR too many winds"], f"winds per tick: {replies}")
winds += LIMITS["winds per tick"] + 1
refused += 2
me.next_tick()
budget = LIMITS["states per tick base"] + tick_ms
me.send(*["GET_STATE"] * (budget + 5))
blocks = [me.state_lines() for _ in range(budget + 5)]
states = [b[0] for b in blocks if b[0].startswith("BEGIN_STATE")]
over = [b[0] for b in blocks if b[0] == "ERROR over budget"]
check(len(states) == budget - 1 and len(over) == 6 and len(set(states)) == 1,
      f"states per tick {budget} at {tick_ms} ms: {len(states) + 1} states, {len(over)} refused")

# 4. Leaving: disconnected at that tick, the rest runs unpaced and ends at the tick limit.
time.sleep(2 * tick_ms / 1000)  # out of the tick whose budget is spent
left = me.tick()
me.sock.close()
finish(process, 0, "the session's arena")
results = json.load(open(results_a))
row = next(p for p in results["players"] if p["name"] == "you")
check(results["end_reason"] == "ticks" and results["ticks_played"] == results["ticks"],
      f"a game whose client left runs to its end: {results['end_reason']}")
check(row["status"] == "disconnected" and row["left_at_tick"] >= left and row["rank"] == 2,
      f"the client that left: {row}")
check((row["index"], row["kind"], row["command"], row["log"]) == (1, "client", None, None),
      f"a client after the builtin: {row}")
check((row["winds"], row["rejected_winds"], row["rejected_states"]) == (winds, refused, len(over)),
      f"winds, refused winds and refused states counted: {row}, sent {winds}, refused {refused}")

# 5. docs/results.md's results table lists exactly the fields written, and its example has them too.
def fields(obj, prefix=""):
    out = set()
    for key, value in obj.items():
        out.add(prefix + key)
        if isinstance(value, dict):
            out |= fields(value, prefix + key + ".")
        elif isinstance(value, list) and value and isinstance(value[0], dict):
            for item in value:
                out |= fields(item, prefix + key + "[].")
    return out


documented = set(table_after(results_doc, "<!-- results fields"))
example = json.loads(re.search(r"```json\n(.*?)```", results_doc, re.S).group(1))
check(fields(results) == documented, f"docs/results.md's results fields: missing "
      f"{sorted(fields(results) - documented)}, not written {sorted(documented - fields(results))}")
check(fields(example) == documented, "docs/results.md's results example has the documented fields")

# 6. The lobby: held replies, bad names, the longest name twice, an overlong line, the end.
results_b = os.path.join(work, "lobby.results.json")
process, port = start("--players", "3", "--ticks", "30", "--tick-ms", "5", "--seed", "1",
                      "--rainclouds", "0", "--results", results_b, "builtin:idle")
longest = "a" + "é" * ((LIMITS["name bytes"] - 2) // 2) + "b"
first, second, rude = Client(port), Client(port), Client(port)
first.send(b"NAME " + longest.encode(), "GET_STATE")
for sent, reply in [("GET_STATE", "ERROR send NAME first"), ("NAME", "ERROR NAME needs a name"),
                    ("NAME " + "n" * (LIMITS["name bytes"] + 1), "ERROR bad name"),
                    (b"NAME a\x01b", "ERROR bad name"), (b"NAME \xff", "ERROR bad name")]:
    second.send(sent)
    got = second.line()
    check(got == reply, f"lobby: {sent!r}: expected {reply!r}, got {got!r}")
check(first.line(timeout=0.3) is None, "a NAME reply waits for the game")
rude.send("X" * (LIMITS["line bytes"] + 1))
check(rude.closes(), "a line over the limit closes the connection")
second.send(b"NAME " + longest.encode())
check(first.line() == "OK " + longest, "the first of two equal names keeps it")
check(first.state_lines()[0] == "BEGIN_STATE 0", "a command sent after NAME is answered at start")
twin = second.line()[3:]
check(twin != longest and len(twin.encode()) <= LIMITS["name bytes"],
      f"the second of two equal longest names stays within the limit: {twin!r}")
late = Client(port)
late.send("NAME late")
check(late.line() == "ERROR game already started", "NAME after the start")
check(first.closes() and second.closes(), "the end of the game closes every connection")
finish(process, 0, "the lobby's arena")
names = sorted(p["name"] for p in json.load(open(results_b))["players"])
check(names == sorted(["idle", longest, twin]), f"the names in the results: {names}")

# 7. A seat kept for a started BOT; nobody comes: no game, exit 1, the BOT absent.
results_c = os.path.join(work, "absent.results.json")
process, port = start("--lobby-seconds", "1", "--results", results_c, "sleep 30")
intruder = Client(port)
intruder.send("NAME intruder")
check(intruder.line() == "ERROR seat reserved", "a started BOT's seat is kept for it")
_, err = finish(process, 1, "an arena where nobody came")
check("no game was played" in err, f"it says so: {err}")
results = json.load(open(results_c))
check((results["end_reason"], results["ticks_played"]) == ("no_players", 0), f"no game: {results}")
check([(p["name"], p["kind"], p["status"], p["command"]) for p in results["players"]]
      == [("sleep", "bot", "absent", "sleep 30")], f"the BOT is absent: {results['players']}")
check(fields(results) <= documented, f"undocumented fields {sorted(fields(results) - documented)}")

check(errors_seen | UNSEEABLE == DOCUMENTED_ERRORS,
      f"errors seen and documented: not documented {sorted(errors_seen - DOCUMENTED_ERRORS)}, "
      f"not provoked {sorted(DOCUMENTED_ERRORS - errors_seen - UNSEEABLE)}")
print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)
