#!/usr/bin/env python3
"""A quiet player for the sandbox gallery: it joins the game and sends nothing more, so that its
cloud only drifts; once the game has started it runs the attack it is given (a script of this
folder and its arguments) beside it, and it stays until the arena closes the connection.

    python3 player.py [ATTACK.sh|ATTACK.py ARGS...]

An attack prints "BREACH: ..." for anything it should not have managed, "held: ..." otherwise."""
import os
import socket
import subprocess
import sys

port = int(os.environ["NIMBUS_ARENA_PORT"])
attack = sys.argv[1:]
name = os.path.splitext(os.path.basename(attack[0]))[0] if attack else "quiet"
sock = socket.create_connection(("127.0.0.1", port))
sock.sendall(f"NAME {name}\n".encode())
lines = sock.makefile("r")
print("joined:", lines.readline().strip(), flush=True)
runner = None
if attack:
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), attack[0])
    shell = "python3" if script.endswith(".py") else "sh"
    runner = subprocess.Popen([shell, script] + attack[1:])
while lines.readline():
    pass
if runner is not None:
    try:
        print("the attack ended:", runner.wait(timeout=2), flush=True)
    except subprocess.TimeoutExpired:
        print("the attack was still running at the end", flush=True)
print("game over", flush=True)
