#!/usr/bin/env python3
"""A small nimbus bot to start your own from (standard library only).

It connects to the arena, names itself, and then, tick after tick, reads the state and now and
then blows one affordable wind: away from a heavier cloud that comes close, else toward the most
worthwhile lighter cloud. The rules are in docs/rules.md, the protocol in docs/protocol.md.

    python3 examples/python/starter_bot.py [--name NAME] [--port PORT]

The port is --port, else NIMBUS_ARENA_PORT (the arena sets it for the bots it starts), else 1986.
"""
import argparse
import math
import os
import socket
import time

WIND_PUSH = 5.0          # a wind (wx, wy) changes the velocity by (wx, wy) * 5 / sqrt(mass)
MAX_SHARE = 0.5          # a wind stronger than half the mass is refused
SPEND_SHARE = 0.04        # we never spend more than 4 % of our mass on one wind
CRUISE = 6.0              # the speed we chase at (velocity units: 0.1 * this per tick)
FLEE = 15.0               # the speed we flee at
DANGER = 60.0             # how near a heavier cloud's edge may come before we flee
TICKS_BETWEEN_WINDS = 20  # let a wind act before we judge again


class Cloud:
    def __init__(self, fields):
        self.x, self.y, self.vx, self.vy, self.mass = map(float, fields)

    @property
    def radius(self):
        return math.sqrt(self.mass)


class Link:
    """The line protocol over TCP: one command out, its reply lines in."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.lines = self.sock.makefile("r", encoding="utf-8", newline="\n")

    def send(self, text):
        self.sock.sendall((text + "\n").encode())

    def read_line(self):
        line = self.lines.readline()
        if not line:
            raise ConnectionError("the arena closed the connection")
        return line.rstrip("\r\n")

    def state(self):
        """Asks for the state: (tick, our index or -1, thunderstorms, rainclouds)."""
        self.send("GET_STATE")
        tick, you, storms, rain = None, -1, [], []
        while True:
            words = self.read_line().split()
            if not words:
                continue
            if words[0] == "BEGIN_STATE":
                tick = int(words[1])
            elif words[0] == "YOU":
                you = int(words[1])
            elif words[0] == "THUNDERSTORM":
                storms.append(Cloud(words[1:6]))
            elif words[0] == "RAINCLOUD":
                rain.append(Cloud(words[1:6]))
            elif words[0] == "END_STATE":
                return tick, you, storms, rain
            elif words[0] == "ERROR":
                raise RuntimeError(" ".join(words))


def cost(me, wanted_vx, wanted_vy):
    """The mass it costs to change our velocity to the wanted one: |change| * sqrt(mass) / 5."""
    return math.hypot(wanted_vx - me.vx, wanted_vy - me.vy) * math.sqrt(me.mass) / WIND_PUSH


def wind_for(me, wanted_vx, wanted_vy):
    """The wind that turns our velocity toward the wanted one, capped to what we will spend."""
    dvx, dvy = wanted_vx - me.vx, wanted_vy - me.vy
    change = math.hypot(dvx, dvy)
    if change < 3.0:
        return None  # close enough: a wind would cost more than it gives
    strength = min(cost(me, wanted_vx, wanted_vy), SPEND_SHARE * me.mass, 0.9 * MAX_SHARE * me.mass)
    return dvx / change * strength, dvy / change * strength


def toward(me, x, y, speed):
    dx, dy = x - me.x, y - me.y
    d = math.hypot(dx, dy) or 1.0
    return dx / d * speed, dy / d * speed


def decide(me, others):
    """One wind (wx, wy) or None."""
    # Danger first: a heavier cloud closing in on us.
    for c in others:
        dx, dy = me.x - c.x, me.y - c.y
        gap = math.hypot(dx, dy) - c.radius - me.radius
        closing = (c.vx - me.vx) * dx + (c.vy - me.vy) * dy > 0
        if c.mass > me.mass and gap < DANGER and closing:
            return wind_for(me, *toward(me, me.x + dx, me.y + dy, FLEE))
    # Else the lighter cloud worth most per distance, after what turning toward it costs.
    best, best_score = None, 0.0
    for c in others:
        if c.mass >= 0.9 * me.mass:
            continue
        d = math.hypot(c.x - me.x, c.y - me.y)
        lead = d / CRUISE  # aim where it will be: it moves 0.1 * v per tick, we 0.1 * CRUISE
        aim = toward(me, c.x + c.vx * lead, c.y + c.vy * lead, CRUISE)
        gain = c.mass - min(cost(me, *aim), SPEND_SHARE * me.mass)
        score = gain / (d + 50.0)
        if gain > 0.5 * c.mass and score > best_score:
            best, best_score = aim, score
    return wind_for(me, *best) if best else None


def play(name, port):
    link = Link(port)
    link.send("NAME " + name)
    print("joined as", link.read_line(), flush=True)  # "OK <name>", sent when the game starts
    last_tick, last_wind = -1, -TICKS_BETWEEN_WINDS
    while True:
        tick, you, storms, rain = link.state()
        if you < 0:
            print("our thunderstorm was swallowed at tick", tick, flush=True)
            return
        if tick == last_tick:
            time.sleep(0.004)  # a new state comes once per tick: do not flood the arena
            continue
        last_tick = tick
        me = storms[you]
        if tick - last_wind >= TICKS_BETWEEN_WINDS:
            wind = decide(me, storms[:you] + storms[you + 1:] + rain)
            if wind is not None:
                link.send("WIND %.4f %.4f" % wind)
                reply = link.read_line()
                if reply != "OK":
                    print("tick", tick, "wind refused:", reply, flush=True)
                last_wind = tick


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--name", default="starter")
    parser.add_argument("--port", type=int, default=int(os.environ.get("NIMBUS_ARENA_PORT", "1986")))
    args = parser.parse_args()
    try:
        play(args.name, args.port)
    except ConnectionError:
        print("game over: the arena closed the connection", flush=True)


if __name__ == "__main__":
    main()
