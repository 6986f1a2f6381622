// The viewer's model of one game, built from a replay file (and, when given, the arena's results
// file). Nothing here touches the page. A replay of format version 2 (JSON lines, docs/replay.md)
// is built line by line while it loads (Nimbus.GameBuilder); one of version 1 (one JSON text) is
// built at once (Nimbus.buildGame). Either way the frames are kept compactly: per cloud and tick
// only its x and y, in typed arrays of fixed-size blocks; the ids once for every stretch of ticks
// with the same living clouds, the masses only where they change. Whatever is refused throws an
// Error whose message says why, before the game on show is touched.
"use strict";
var Nimbus = window.Nimbus || (window.Nimbus = {});

(function () {
  const END_REASONS = {
    ticks: (n) => `the time limit was reached (${n} ticks)`,
    one_left: () => "only one player was left",
    no_players: () => "no player was left connected",
    interrupted: () => "the arena was interrupted",
  };

  // The end reason in words, for any reason the arena writes.
  Nimbus.endReasonText = function (reason, ticks) {
    const f = END_REASONS[reason];
    return f ? f(ticks) : `ended (${String(reason)})`;
  };

  function fail(why) {
    throw new Error(why);
  }

  function isInt(v) {
    return Number.isInteger(v);
  }

  function isNumber(v) {
    return typeof v === "number" && Number.isFinite(v);
  }

  // A growing list of numbers in typed-array blocks: no copying as it grows, no spare half.
  const BLOCK = 1 << 16;
  class Column {
    constructor(Type) {
      this.Type = Type;
      this.blocks = [];
      this.length = 0;
    }
    push(v) {
      const k = this.length & (BLOCK - 1);
      if (k === 0) this.blocks.push(new this.Type(BLOCK));
      this.blocks[this.blocks.length - 1][k] = v;
      this.length += 1;
    }
    at(i) {
      return this.blocks[i >>> 16][i & (BLOCK - 1)];
    }
  }

  // Says what a whole file's text is: {kind: "replay", replay} (format version 1) or
  // {kind: "results", results}. Throws with a reason when it is neither.
  Nimbus.readGameFile = function (text) {
    let data;
    try {
      data = JSON.parse(text);
    } catch (e) {
      fail("it is not JSON (" + e.message + ")");
    }
    if (data === null || typeof data !== "object" || Array.isArray(data)) {
      fail("it is not a JSON object");
    }
    if (data.format === "nimbus-arena-replay") return { kind: "replay", replay: data };
    const looksRanked = Array.isArray(data.players) && data.players.length > 0 &&
      data.players.every((r) => r && typeof r === "object" && "final_mass" in r);
    if (!("frames" in data) && Array.isArray(data.players) && ("end_reason" in data || looksRanked)) {
      return { kind: "results", results: data };
    }
    if (Array.isArray(data.games) || Array.isArray(data.standings)) {
      fail("it is a tournament's standings (open it in tournament.html)");
    }
    fail('it has no "format": "nimbus-arena-replay"');
  };

  // Whether a parsed first line is the header of a version-2 replay.
  Nimbus.isStreamHeader = function (data) {
    return data !== null && typeof data === "object" && data.format === "nimbus-arena-replay" && data.version === 2;
  };

  function fmt(v) {
    return Number(v).toFixed(2);
  }

  const WIND = 0;
  const SWALLOW = 1;
  const OUT = 2;
  const LEFT = 3;

  // A game growing tick by tick. The model's fields (players, lastTick, events, ...) are read by
  // the page; the frame of tick t is frameStart(t) to frameStart(t + 1) in xs and ys, its clouds
  // idsAt(t), their masses massOf(id, t).
  Nimbus.GameBuilder = class {
    constructor(settings, players) {
      if (!settings || typeof settings !== "object") fail("the replay has no settings");
      if (!Array.isArray(players) || players.length < 1) fail("the replay has no players");
      const n = players.length;
      this.players = players.map((p, i) => ({
        index: i,
        name: p && typeof p.name === "string" && p.name !== "" ? p.name : "player " + i,
        kind: String((p && p.kind) || ""),
        refused: p && isInt(p.refused) ? p.refused : null,
      }));
      this.settings = settings;
      this.seed = settings.seed;
      this.tickMs = Number(settings.tick_ms) > 0 ? Number(settings.tick_ms) : 16;
      this.plannedTicks = isInt(settings.ticks) && settings.ticks > 0 ? settings.ticks : 1;
      this.lastTick = -1;
      this.ended = false;      // the record's end was read
      this.loading = true;     // more lines may come
      this.endReason = "";
      this.results = null;
      this.maxMass = 1;
      this.maxId = -1;
      this.outAt = this.players.map(() => null);
      // The winds, in the order of the ticks whose step applied them: tick, player, wx, wy.
      this.winds = { tick: new Column(Int32Array), player: new Column(Uint16Array),
                     wx: new Column(Float32Array), wy: new Column(Float32Array) };
      this.swallows = [];
      // The events about players, by the tick they are listed at: type (WIND, SWALLOW, OUT, LEFT),
      // tick, a and b (wind: the wind's number; swallow: by and victim; out, left: the player).
      this.events = { type: new Column(Uint8Array), tick: new Column(Int32Array),
                      a: new Column(Int32Array), b: new Column(Int32Array) };
      this.order = null;  // the events' order when they did not come by tick (else as they came)
      this.starts = new Column(Float64Array);
      this.xs = new Column(Float32Array);
      this.ys = new Column(Float32Array);
      this.sets = [];        // {from: tick, ids: Uint16Array}: the living clouds from that tick on
      this.masses = new Map();  // id -> {ticks: [], values: []}: its mass from each tick on
      this.massSeries = this.players.map(() => new Column(Float32Array));
      this.living = null;  // version 2: ids of the living clouds, ascending, with their state
      this.cur = null;
      this.n = n;
    }

    frameStart(t) {
      return t > this.lastTick ? this.xs.length : this.starts.at(t);
    }

    // The ids of the clouds at tick t, ascending.
    idsAt(t) {
      let lo = 0;
      let hi = this.sets.length - 1;
      while (lo < hi) {
        const mid = (lo + hi + 1) >> 1;
        if (this.sets[mid].from <= t) lo = mid; else hi = mid - 1;
      }
      return this.sets[lo].ids;
    }

    // Cloud id's mass at tick t (as last set at or before t).
    massOf(id, t) {
      const m = this.masses.get(id);
      if (!m) return NaN;
      let lo = 0;
      let hi = m.ticks.length - 1;
      while (lo < hi) {
        const mid = (lo + hi + 1) >> 1;
        if (m.ticks[mid] <= t) lo = mid; else hi = mid - 1;
      }
      return m.values[lo];
    }

    // Player p's mass at tick t; NaN once its thunderstorm is gone.
    massAt(p, t) {
      return this.massSeries[p].at(t);
    }

    // Cloud id's [x, y, mass] at tick t, or null when it is not there.
    cloudAt(id, t) {
      if (t > this.lastTick) return null;
      const ids = this.idsAt(t);
      let lo = 0;
      let hi = ids.length - 1;
      while (lo <= hi) {
        const mid = (lo + hi) >> 1;
        if (ids[mid] === id) {
          const at = this.frameStart(t) + mid;
          return [this.xs.at(at), this.ys.at(at), this.massOf(id, t)];
        }
        if (ids[mid] < id) lo = mid + 1; else hi = mid - 1;
      }
      return null;
    }

    cloudName(id) {
      return id < this.n ? this.players[id].name : "raincloud " + id;
    }

    // Adds one frame: clouds as parallel lists of ids (ascending), x, y, mass.
    pushFrame(ids, xs, ys, ms) {
      const t = this.lastTick + 1;
      this.starts.push(this.xs.length);
      const set = this.sets.length ? this.sets[this.sets.length - 1].ids : null;
      if (!set || set.length !== ids.length || ids.some((id, k) => set[k] !== id)) {
        for (let k = 1; k < ids.length; ++k) {
          if (ids[k] <= ids[k - 1]) fail(`frame ${t} does not list its clouds by ascending id`);
        }
        this.sets.push({ from: t, ids: Uint16Array.from(ids) });
      }
      const mass = this.players.map(() => NaN);
      for (let k = 0; k < ids.length; ++k) {
        const id = ids[k];
        this.xs.push(xs[k]);
        this.ys.push(ys[k]);
        let m = this.masses.get(id);
        if (!m) this.masses.set(id, (m = { ticks: [], values: [] }));
        if (!m.ticks.length || m.values[m.values.length - 1] !== ms[k]) {
          m.ticks.push(t);
          m.values.push(ms[k]);
        }
        if (id > this.maxId) this.maxId = id;
        if (id < this.n) {
          mass[id] = ms[k];
          if (ms[k] > this.maxMass) this.maxMass = ms[k];
        }
      }
      mass.forEach((m, p) => this.massSeries[p].push(m));
      this.lastTick = t;
    }

    addEvent(type, tick, a, b) {
      const e = this.events;
      e.type.push(type);
      e.tick.push(tick);
      e.a.push(a);
      e.b.push(b);
    }

    addWind(tick, player, wx, wy) {
      if (!isInt(player) || player < 0 || player >= this.n) fail("a wind of no player");
      if (!isNumber(wx) || !isNumber(wy)) fail("a wind is not two numbers");
      const w = this.winds;
      this.addEvent(WIND, tick + 1, w.tick.length, 0);
      w.tick.push(tick);
      w.player.push(player);
      w.wx.push(wx);
      w.wy.push(wy);
    }

    addSwallow(tick, by, victim) {
      if (!isInt(by) || !isInt(victim) || by < 0 || victim < 0) fail("a swallow without its clouds");
      this.swallows.push({ tick, by, victim });
      if (by < this.n || victim < this.n) this.addEvent(SWALLOW, tick, by, victim);
    }

    addOut(tick, player) {
      if (!isInt(player) || player < 0 || player >= this.n) fail("an elimination of no player");
      this.outAt[player] = tick;
      this.addEvent(OUT, tick, player, 0);
    }

    // The winds the step to tick t + 1 applied, as [player, wx, wy].
    windsAt(t) {
      const w = this.winds;
      let lo = 0;
      let hi = w.tick.length;
      while (lo < hi) {
        const mid = (lo + hi) >> 1;
        if (w.tick.at(mid) < t) lo = mid + 1; else hi = mid;
      }
      const found = [];
      for (let i = lo; i < w.tick.length && w.tick.at(i) === t; ++i) {
        found.push([w.player.at(i), w.wx.at(i), w.wy.at(i)]);
      }
      return found;
    }

    eventCount() {
      return this.events.tick.length;
    }

    // The k-th event in tick order.
    eventAt(k) {
      return this.order ? this.order[k] : k;
    }

    eventTick(i) {
      return this.events.tick.at(i);
    }

    isWind(i) {
      return this.events.type.at(i) === WIND;
    }

    // Whether player p is in event i.
    involves(i, p) {
      const e = this.events;
      const type = e.type.at(i);
      if (type === WIND) return this.winds.player.at(e.a.at(i)) === p;
      return e.a.at(i) === p || (type === SWALLOW && e.b.at(i) === p);
    }

    eventText(i) {
      const e = this.events;
      const a = e.a.at(i);
      switch (e.type.at(i)) {
        case WIND: {
          const w = this.winds;
          const wx = w.wx.at(a);
          const wy = w.wy.at(a);
          return `${this.players[w.player.at(a)].name} blows (${fmt(wx)}, ${fmt(wy)}), cost ${Math.hypot(wx, wy).toFixed(2)}`;
        }
        case SWALLOW: return `${this.cloudName(a)} swallows ${this.cloudName(e.b.at(i))}`;
        case OUT: return `${this.players[a].name} is out`;
        default: return `${this.players[a] ? this.players[a].name : "player " + a} disconnected`;
      }
    }

    // Puts the events in tick order (stable: the arena's order within a tick).
    sortEvents() {
      const n = this.eventCount();
      const order = Array.from({ length: n }, (_, i) => i);
      order.sort((x, y) => this.eventTick(x) - this.eventTick(y) || x - y);
      this.order = Int32Array.from(order);
    }

    // One line of a version-2 replay after its header: a tick, or the end.
    addLine(line) {
      if (line === null || typeof line !== "object") fail(`line ${this.lastTick + 3} is not a JSON object`);
      if (this.ended) fail("a line after the end");
      if ("end_tick" in line) {
        if (this.lastTick < 0) fail("the end comes before tick 0");
        this.ended = true;
        this.endReason = String(line.end_reason || "");
        if (Array.isArray(line.refused)) {
          line.refused.forEach((r, p) => { if (p < this.n && isInt(r)) this.players[p].refused = r; });
        }
        return;
      }
      const t = line.t;
      if (t !== this.lastTick + 1) fail(`line ${this.lastTick + 3} is tick ${t}, not ${this.lastTick + 1}`);
      if (!this.living) {
        this.cur = new Map();
      }
      for (const [by, victim] of pairs(line.s, "a swallow")) {
        this.cur.delete(victim);
        this.addSwallow(t, by, victim);
        if (victim < this.n) this.addOut(t, victim);
      }
      const p = line.p;
      if (!Array.isArray(p) || p.length % 3 !== 0) fail(`tick ${t} has no positions`);
      for (let k = 0; k < p.length; k += 3) {
        const id = p[k];
        if (!isInt(id) || id < 0 || id > 65535 || !isNumber(p[k + 1]) || !isNumber(p[k + 2])) {
          fail(`tick ${t} has a malformed cloud`);
        }
        const c = this.cur.get(id);
        if (c) { c[0] = p[k + 1]; c[1] = p[k + 2]; } else this.cur.set(id, [p[k + 1], p[k + 2], NaN]);
      }
      for (const [id, mass] of pairs(line.m, "a mass")) {
        const c = this.cur.get(id);
        if (!c || !isNumber(mass)) fail(`tick ${t} has a malformed mass`);
        c[2] = mass;
      }
      for (const w of triples(line.w)) this.addWind(t - 1, w[0], w[1], w[2]);
      if (!this.living || this.living.length !== this.cur.size) {
        this.living = [...this.cur.keys()].sort((a, b) => a - b);
      }
      const xs = [];
      const ys = [];
      const ms = [];
      for (const id of this.living) {
        const c = this.cur.get(id);
        if (Number.isNaN(c[2])) fail(`tick ${t} has a cloud without its mass`);
        xs.push(c[0]);
        ys.push(c[1]);
        ms.push(c[2]);
      }
      this.pushFrame(this.living, xs, ys, ms);
    }
  };

  function pairs(list, what) {
    if (list === undefined) return [];
    if (!Array.isArray(list) || !list.every((e) => Array.isArray(e) && e.length === 2)) fail(`${what} is malformed`);
    return list;
  }

  function triples(list) {
    if (list === undefined) return [];
    if (!Array.isArray(list) || !list.every((e) => Array.isArray(e) && e.length === 3)) fail("a wind is malformed");
    return list;
  }

  // Builds the model of a version-1 replay (one JSON text) at once; throws when it is not whole.
  Nimbus.buildGame = function (replay) {
    if (!Array.isArray(replay.frames) || replay.frames.length < 1) fail("the replay has no frames");
    if (!Array.isArray(replay.events)) fail("the replay has no events");
    const g = new Nimbus.GameBuilder(replay.settings, replay.players);
    const n = g.n;
    replay.frames.forEach((frame, t) => {
      if (!Array.isArray(frame)) fail(`frame ${t} is not a list of clouds`);
      const ids = [];
      const xs = [];
      const ys = [];
      const ms = [];
      for (const c of frame) {
        if (!Array.isArray(c) || c.length < 6 || !isInt(c[0]) || c[0] < 0 || c[0] > 65535 ||
            typeof c[3] !== "number" || typeof c[4] !== "number" || typeof c[5] !== "number") {
          fail(`frame ${t} has a malformed cloud`);
        }
        if (c[1] === "T" && (!isInt(c[2]) || c[2] < 0 || c[2] >= n || c[2] !== c[0])) {
          fail(`frame ${t} has a thunderstorm of no player`);
        }
        ids.push(c[0]);
        xs.push(c[3]);
        ys.push(c[4]);
        ms.push(c[5]);
      }
      g.pushFrame(ids, xs, ys, ms);
    });
    for (const e of replay.events) {
      if (!e || !isInt(e.tick)) fail("the replay has an event without a tick");
      if (e.type === "wind") g.addWind(e.tick, e.player, e.wx, e.wy);
      else if (e.type === "swallow") g.addSwallow(e.tick, e.by, e.victim);
      else if (e.type === "eliminated") g.addOut(e.tick, e.player);
    }
    g.sortEvents();
    g.ended = true;
    g.loading = false;
    g.endReason = String(replay.end_reason || "");
    return g;
  };

  // The standings as the arena ranks them. From the attached results file when there is one,
  // else from the replay alone: players still in by final mass, then the eliminated ones, later
  // elimination first; ties keep index order.
  Nimbus.standings = function (game) {
    if (game.results) {
      return game.results.players.map((r, i) => ({
        index: isInt(r.index) ? r.index : game.players.findIndex((p) => p.name === r.name),
        rank: isInt(r.rank) ? r.rank : i + 1,
        name: r.name,
        status: r.status || (r.out_at_tick !== null && r.out_at_tick !== undefined ? "out" : "playing"),
        outAt: r.out_at_tick,
        leftAt: r.left_at_tick,
        finalMass: Number(r.final_mass),
        refused: isInt(r.rejected_winds) ? r.rejected_winds : null,
      }));
    }
    const rows = game.players.map((p, i) => ({
      index: i, name: p.name,
      status: game.outAt[i] !== null ? "out" : "playing",
      outAt: game.outAt[i], leftAt: null,
      finalMass: game.outAt[i] !== null ? 0 : game.massAt(i, game.lastTick) || 0,
      refused: p.refused,
    }));
    rows.sort((a, b) => {
      const aIn = a.status === "playing";
      const bIn = b.status === "playing";
      if (aIn !== bIn) return aIn ? -1 : 1;
      if (aIn) return b.finalMass - a.finalMass;
      return b.outAt - a.outAt;
    });
    rows.forEach((r, i) => { r.rank = i + 1; });
    return rows;
  };

  // A status in words: "playing", "out at tick N", "disconnected at tick N", "absent".
  Nimbus.statusText = function (row) {
    if (row.status === "out") return `out at tick ${row.outAt}`;
    if (row.status === "disconnected") {
      return row.leftAt !== null && row.leftAt !== undefined ? `disconnected at tick ${row.leftAt}` : "disconnected";
    }
    return String(row.status);
  };

  // Checks that a results file belongs to the game and attaches it, with the disconnections it
  // reports as events. Throws, changing nothing, when the file is of another game.
  Nimbus.attachResults = function (game, results) {
    if (results.seed !== undefined && game.seed !== undefined && results.seed !== game.seed) {
      fail(`its seed ${results.seed} is not this replay's seed ${game.seed}`);
    }
    // Players that never named themselves (absent) may be missing from the replay.
    const seated = results.players.filter((r) => r && r.status !== "absent");
    if (seated.length !== game.players.length) {
      fail(`it has ${seated.length} players in the game, this replay ${game.players.length}`);
    }
    for (const r of results.players) {
      if (!r || typeof r.name !== "string") fail("a player in it has no name");
      if (r.status !== "absent" && !game.players.some((p) => p.name === r.name)) {
        fail(`its player "${r.name}" is not in this replay`);
      }
    }
    if (game.results) fail("this game's results are already open");
    for (const r of results.players) {
      if (r.status === "disconnected" && isInt(r.left_at_tick)) {
        const index = isInt(r.index) ? r.index : game.players.findIndex((p) => p.name === r.name);
        game.addEvent(LEFT, r.left_at_tick, index, 0);
      }
    }
    game.sortEvents();
    game.results = results;
    if (results.end_reason) game.endReason = String(results.end_reason);
  };
})();
