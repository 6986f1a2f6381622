// The viewer's model of one game, built from a replay file (and, when given, the arena's results
// file). Nothing here touches the page: readGameFile either returns a whole new model or throws
// an Error whose message says why the file is refused, so a refused file never disturbs the game
// on show.
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

  // Parses a file's text and says what it is: {kind: "replay", replay} or {kind: "results",
  // results}. Throws with a reason when it is neither.
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

  // Builds the model of a replay; throws when the replay is not whole.
  Nimbus.buildGame = function (replay) {
    const s = replay.settings;
    if (!s || typeof s !== "object") fail("the replay has no settings");
    if (!Array.isArray(replay.players) || replay.players.length < 1) fail("the replay has no players");
    if (!Array.isArray(replay.frames) || replay.frames.length < 1) fail("the replay has no frames");
    if (!Array.isArray(replay.events)) fail("the replay has no events");
    const frames = replay.frames;
    const lastTick = frames.length - 1;
    const n = replay.players.length;
    const players = replay.players.map((p, i) => ({
      index: i,
      name: typeof p.name === "string" && p.name !== "" ? p.name : "player " + i,
      kind: String(p.kind || ""),
      refused: isInt(p.refused) ? p.refused : null,
    }));
    const tickMs = Number(s.tick_ms) > 0 ? Number(s.tick_ms) : 16;

    // Each player's mass at every tick (NaN once its thunderstorm is gone).
    const mass = players.map(() => new Float32Array(frames.length).fill(NaN));
    let maxMass = 1;
    let maxId = -1;
    for (let t = 0; t < frames.length; ++t) {
      const frame = frames[t];
      if (!Array.isArray(frame)) fail(`frame ${t} is not a list of clouds`);
      for (let k = 0; k < frame.length; ++k) {
        const c = frame[k];
        if (!Array.isArray(c) || c.length < 6 || typeof c[3] !== "number" || typeof c[5] !== "number") {
          fail(`frame ${t} has a malformed cloud`);
        }
        if (c[0] > maxId) maxId = c[0];
        if (c[1] === "T") {
          const owner = c[2];
          if (!isInt(owner) || owner < 0 || owner >= n) fail(`frame ${t} has a thunderstorm of no player`);
          mass[owner][t] = c[5];
          if (c[5] > maxMass) maxMass = c[5];
        }
      }
    }

    const cloudName = (id) => (id < n ? players[id].name : "raincloud " + id);
    const outAt = players.map(() => null);
    const windsByTick = new Map();  // the tick whose step applied them -> winds
    const swallows = [];
    const events = [];  // about players, by tick: {tick, type, players, text}
    for (const e of replay.events) {
      if (!e || !isInt(e.tick)) fail("the replay has an event without a tick");
      if (e.type === "wind") {
        if (!isInt(e.player) || e.player < 0 || e.player >= n) fail("a wind of no player");
        const accepted = e.accepted !== false;
        const strength = Math.hypot(e.wx, e.wy);
        if (accepted) {
          if (!windsByTick.has(e.tick)) windsByTick.set(e.tick, []);
          windsByTick.get(e.tick).push(e);
        }
        events.push({
          tick: e.tick + 1, type: "wind", players: [e.player],
          text: accepted
            ? `${players[e.player].name} blows (${fmt(e.wx)}, ${fmt(e.wy)}), cost ${strength.toFixed(2)}`
            : `${players[e.player].name}'s wind (${fmt(e.wx)}, ${fmt(e.wy)}) is refused`,
        });
      } else if (e.type === "swallow") {
        swallows.push(e);
        if (e.by < n || e.victim < n) {
          events.push({
            tick: e.tick, type: "swallow", players: [e.by, e.victim].filter((id) => id < n),
            text: `${cloudName(e.by)} swallows ${cloudName(e.victim)}`,
          });
        }
      } else if (e.type === "eliminated") {
        if (!isInt(e.player) || e.player < 0 || e.player >= n) fail("an elimination of no player");
        outAt[e.player] = e.tick;
        events.push({ tick: e.tick, type: "out", players: [e.player], text: `${players[e.player].name} is out` });
      }
    }
    events.sort((a, b) => a.tick - b.tick);  // stable: the arena's order within a tick

    return {
      replay, players, frames, lastTick, tickMs, mass, maxMass, outAt, windsByTick, swallows,
      events, maxId,
      endReason: String(replay.end_reason || ""),
      seed: s.seed,
      results: null,
    };
  };

  function fmt(v) {
    return Number(v).toFixed(2);
  }

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
      finalMass: game.outAt[i] !== null ? 0 : game.mass[i][game.lastTick] || 0,
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

  // Checks that a results file belongs to the game and returns the game with it attached, plus
  // the disconnections it reports as events. Throws when the file is of another game.
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
    const events = game.events.filter((e) => e.type !== "left");
    for (const r of results.players) {
      if (r.status === "disconnected" && isInt(r.left_at_tick)) {
        const index = isInt(r.index) ? r.index : game.players.findIndex((p) => p.name === r.name);
        events.push({ tick: r.left_at_tick, type: "left", players: [index], text: `${r.name} disconnected` });
      }
    }
    events.sort((a, b) => a.tick - b.tick);
    return Object.assign({}, game, { results, events, endReason: results.end_reason ? String(results.end_reason) : game.endReason });
  };
})();
