// The viewer page: loads games (file picker, drop, or ?replay=PATH&results=PATH&tick=N), plays
// them, and keeps the arena, the chart, the standings, the events and the URL on one tick.
"use strict";
(function () {
  const N = window.Nimbus;
  const $ = (id) => document.getElementById(id);
  const arenaCanvas = $("arena");
  const chart = new N.MassChart($("chart"));
  const slider = $("slider");
  const playButton = $("play");
  const eventList = $("events");

  const view = {
    game: null,
    source: "",          // the replay's path for the URL, "" for a picked file
    resultsSource: "",
    tick: 0,
    playing: false,
    position: 0,         // fractional tick while playing
    lastTime: null,
    lastUrlUpdate: 0,
    shown: [],           // the events in the list, in order
    currentEvent: -1,    // index in shown of the last event at or before the tick
    nowCells: [],        // per standings row: [player, cell]
  };

  // ---- messages -------------------------------------------------------------------------------
  function say(text, info) {
    const m = $("message");
    m.textContent = text;
    m.className = info ? "info" : "";
    m.hidden = !text;
    layout();
  }

  // ---- the tick ---------------------------------------------------------------------------------
  // A tick from the URL: a whole number, clamped to the game; anything else means 0.
  function parseTick(text, last) {
    if (text === null || !/^\s*\d+\s*$/.test(text)) return 0;
    return Math.min(last, Number(text));
  }

  function setTick(t, fromPlayback) {
    if (!view.game) return;
    t = Math.min(view.game.lastTick, Math.max(0, Math.floor(Number(t) || 0)));
    view.tick = t;
    if (!fromPlayback) view.position = t;
    render();
    const now = performance.now();
    if (!fromPlayback || now - view.lastUrlUpdate > 1000) {
      view.lastUrlUpdate = now;
      writeUrl();
    }
  }

  function urlFor(tick) {
    const q = new URLSearchParams();
    if (view.source) q.set("replay", view.source);
    if (view.resultsSource) q.set("results", view.resultsSource);
    q.set("tick", String(tick));
    return "?" + q.toString();
  }

  function writeUrl() {
    try {
      history.replaceState(null, "", urlFor(view.tick));
    } catch (e) {
      // Some browsers refuse to change a file:// URL; the tick simply is not kept there.
    }
  }

  function step(delta) {
    pause();
    setTick(view.tick + delta);
  }

  // ---- playback ---------------------------------------------------------------------------------
  function play() {
    if (!view.game || view.playing) return;
    if (view.tick >= view.game.lastTick) view.tick = 0;
    view.position = view.tick;
    view.playing = true;
    view.lastTime = null;
    playButton.textContent = "pause";
    requestAnimationFrame(frame);
  }

  function pause() {
    if (!view.playing) return;
    view.playing = false;
    playButton.textContent = "play";
    writeUrl();
  }

  function frame(now) {
    if (!view.playing) return;
    if (view.lastTime !== null) {
      view.position += ((now - view.lastTime) / view.game.tickMs) * Number($("speed").value);
    }
    view.lastTime = now;
    if (view.position >= view.game.lastTick) {
      view.position = view.game.lastTick;
      setTick(view.game.lastTick, true);
      pause();
      return;
    }
    setTick(view.position, true);
    requestAnimationFrame(frame);
  }

  // ---- drawing ----------------------------------------------------------------------------------
  function render() {
    const g = view.game;
    N.drawArena(arenaCanvas, g, view.tick);
    chart.draw(view.tick);
    if (!g) return;
    slider.value = String(view.tick);
    $("tick-label").textContent = `tick ${view.tick} / ${g.lastTick}`;
    for (const [p, cell] of view.nowCells) {
      const m = g.mass[p][view.tick];
      cell.textContent = Number.isNaN(m) ? "–" : m.toFixed(1);
    }
    followEvents();
    const banner = $("banner");
    if (view.tick === g.lastTick) {
      const top = N.standings(g)[0];
      banner.replaceChildren();
      const b = document.createElement("b");
      b.textContent = `Winner: ${top.name}`;
      banner.append(b, document.createElement("br"),
                    `game over at tick ${g.lastTick}: ${N.endReasonText(g.endReason, g.replay.settings.ticks)}`);
      banner.hidden = false;
    } else {
      banner.hidden = true;
    }
  }

  function showStandings() {
    const g = view.game;
    $("end-reason").textContent =
      `Game over at tick ${g.lastTick}: ${N.endReasonText(g.endReason, g.replay.settings.ticks)}.` +
      (g.results ? "" : " (Ranked from the replay; open the results file for the arena's own.)");
    const body = $("standings").tBodies[0];
    body.replaceChildren();
    view.nowCells = [];
    for (const row of N.standings(g)) {
      const tr = document.createElement("tr");
      tr.dataset.player = String(row.index);
      if (row.status !== "playing") tr.className = "gone";
      const cells = [String(row.rank), "", N.statusText(row), "", row.finalMass.toFixed(1),
                     row.refused === null || row.refused === undefined ? "" : String(row.refused)];
      cells.forEach((text, i) => {
        const td = document.createElement("td");
        td.textContent = text;
        if (i >= 3) td.className = "num";
        if (i === 1) {
          td.className = "name";
          td.title = row.name;
          const sw = document.createElement("span");
          sw.className = N.pattern(row.index) > 0 ? "swatch striped" : "swatch";
          sw.style.background = N.colour(row.index);
          td.append(sw, row.name);
        }
        if (i === 2) td.className = "status";
        tr.appendChild(td);
      });
      if (row.index >= 0 && row.index < g.players.length) view.nowCells.push([row.index, tr.children[3]]);
      body.appendChild(tr);
    }
  }

  // ---- events -----------------------------------------------------------------------------------
  function showEvents() {
    const g = view.game;
    const who = $("who").value;
    const winds = $("show-winds").checked;
    view.shown = g.events.filter((e) =>
      (winds || e.type !== "wind") && (who === "all" || e.players.includes(Number(who))));
    const items = view.shown.map((e, i) => {
      const li = document.createElement("li");
      li.className = "future";
      li.dataset.tick = String(e.tick);
      const a = document.createElement("a");
      a.href = urlFor(e.tick);
      a.textContent = `tick ${e.tick}`;
      a.dataset.index = String(i);
      li.append(a, e.text);
      return li;
    });
    eventList.replaceChildren(...items);
    if (!items.length) {
      const li = document.createElement("li");
      li.textContent = "no events";
      eventList.appendChild(li);
    }
    view.currentEvent = -1;
    followEvents();
  }

  // Marks the events up to the tick as past, the last of them as current, and keeps it in view.
  function followEvents() {
    const shown = view.shown;
    let lo = 0;
    let hi = shown.length;  // first event after the tick
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (shown[mid].tick <= view.tick) lo = mid + 1; else hi = mid;
    }
    const next = lo - 1;
    const prev = view.currentEvent;
    if (next === prev) return;
    const items = eventList.children;
    if (prev >= 0) items[prev].classList.remove("current");
    for (let i = Math.min(prev, next) + 1; i <= Math.max(prev, next); ++i) {
      items[i].classList.toggle("future", i > next);
    }
    view.currentEvent = next;
    const el = items[Math.max(0, next)];
    if (next >= 0) el.classList.add("current");
    if (el) eventList.scrollTop = el.offsetTop - eventList.offsetTop - eventList.clientHeight / 2;
  }

  // ---- loading ----------------------------------------------------------------------------------
  function showGame(game, source, tick) {
    pause();
    view.game = game;
    view.source = source;
    view.resultsSource = "";
    chart.setGame(game);
    slider.max = String(game.lastTick);
    for (const id of ["slider", "play", "back1", "back10", "fwd1", "fwd10"]) $(id).disabled = false;
    const who = $("who");
    who.replaceChildren(new Option("all players", "all"));
    game.players.forEach((p, i) => who.appendChild(new Option(p.name, String(i))));
    document.title = `nimbus replay: ${game.players.map((p) => p.name).join(", ")}`;
    showStandings();
    showEvents();
    layout();
    setTick(tick);
    window.nimbusViewer.loadedAt = performance.now();
  }

  function attach(results, source, fileName, quiet) {
    view.game = N.attachResults(view.game, results);  // throws before anything changes
    view.resultsSource = source;
    chart.setGame(view.game);
    showStandings();
    showEvents();
    render();
    writeUrl();
    say(quiet ? "" : `Standings from ${fileName}.`, true);
  }

  // A file's text, picked, dropped or fetched. A file that is neither a replay nor the results of
  // the game on show is refused before anything on show changes.
  function open(text, fileName, source, tick, quiet) {
    const what = view.game ? ` Still showing the game that was open.` : "";
    try {
      const file = N.readGameFile(text);
      if (file.kind === "replay") {
        const game = N.buildGame(file.replay);
        say("");
        showGame(game, source, tick === undefined ? 0 : tick);
      } else if (!view.game) {
        say(`${fileName} holds a game's results: open its replay first, then this file for the arena's standings.`);
      } else {
        attach(file.results, source, fileName, quiet);
      }
    } catch (e) {
      say(`Cannot show ${fileName}: ${e.message}.${what}`);
      return false;
    }
    return true;
  }

  function openFile(file) {
    if (!file) return;
    file.text().then((text) => open(text, file.name, ""),
                      (e) => say(`Cannot read ${file.name}: ${e.message}.`));
  }

  function fetchText(path) {
    return fetch(path).then((r) => {
      if (!r.ok) throw new Error(`${r.status} ${r.statusText}`);
      return r.text();
    });
  }

  function openFromUrl() {
    const q = new URLSearchParams(location.search);
    const replay = q.get("replay");
    if (!replay) return;
    say(`Loading ${replay} ...`, true);  // cleared once it is shown
    fetchText(replay).then((text) => {
      const game = view.game;
      if (!open(text, replay, replay, 0)) return;
      if (view.game === game) return;
      setTick(parseTick(q.get("tick"), view.game.lastTick));
      const results = q.get("results");
      if (results) {
        return fetchText(results).then((t) => open(t, results, results, undefined, true),
                                       (e) => say(`Cannot load ${results}: ${e.message}.`));
      }
    }, (e) => say(`Cannot load ${replay}: ${e.message} (opened from a file:// page, pick the file instead).`));
  }

  // ---- layout -----------------------------------------------------------------------------------
  // Wide windows: the arena as large as fits above the chart, the side panel as tall as the window.
  function layout() {
    const stage = $("stage");
    const wide = window.matchMedia("(min-width: 760px)").matches;
    const box = $("arena-box");
    if (wide) {
      const top = $("layout").getBoundingClientRect().top;
      const free = window.innerHeight - top - 8 - $("chart").offsetHeight - 6;
      const width = Math.max(160, Math.min(stage.clientWidth, (free * 16) / 9));
      box.style.width = `${width}px`;
      $("side").style.height = `${Math.max(200, window.innerHeight - top - 8)}px`;
    } else {
      box.style.width = "";
      $("side").style.height = "";
    }
    render();
  }

  // ---- wiring -----------------------------------------------------------------------------------
  $("file").addEventListener("change", (e) => { openFile(e.target.files[0]); e.target.value = ""; });
  document.addEventListener("dragover", (e) => e.preventDefault());
  document.addEventListener("drop", (e) => {
    e.preventDefault();
    if (e.dataTransfer.files.length) openFile(e.dataTransfer.files[0]);
  });
  slider.addEventListener("input", () => { pause(); setTick(Number(slider.value)); });
  playButton.addEventListener("click", () => (view.playing ? pause() : play()));
  $("back10").addEventListener("click", () => step(-10));
  $("back1").addEventListener("click", () => step(-1));
  $("fwd1").addEventListener("click", () => step(1));
  $("fwd10").addEventListener("click", () => step(10));
  $("who").addEventListener("change", showEvents);
  $("show-winds").addEventListener("change", showEvents);
  eventList.addEventListener("click", (e) => {
    const a = e.target.closest("a");
    if (!a) return;
    e.preventDefault();
    step(view.shown[Number(a.dataset.index)].tick - view.tick);
  });
  let dragging = false;
  const chartJump = (e) => {
    if (!view.game) return;
    const r = $("chart").getBoundingClientRect();
    step(chart.tickAt(e.clientX - r.left) - view.tick);
  };
  $("chart").addEventListener("pointerdown", (e) => { dragging = true; chartJump(e); });
  $("chart").addEventListener("pointermove", (e) => { if (dragging) chartJump(e); });
  window.addEventListener("pointerup", () => { dragging = false; });

  const KEYS = {
    " ": () => (view.playing ? pause() : play()),
    ArrowLeft: (e) => step(e.shiftKey ? -10 : -1),
    ArrowRight: (e) => step(e.shiftKey ? 10 : 1),
    ArrowDown: () => step(-10),
    ArrowUp: () => step(10),
    Home: () => step(-view.tick),
    End: () => step(view.game.lastTick - view.tick),
  };
  window.addEventListener("keydown", (e) => {
    const t = e.target;
    if (!view.game || !KEYS[e.key] || e.ctrlKey || e.altKey || e.metaKey) return;
    if (t.tagName === "SELECT" || (t.tagName === "INPUT" && t.type !== "range" && t.type !== "checkbox")) return;
    e.preventDefault();  // no page scroll, no second move of the slider, no click of a focused button
    KEYS[e.key](e);
  });
  window.addEventListener("resize", layout);

  // For the browser tests and the curious: the state on show.
  window.nimbusViewer = {
    get tick() { return view.tick; },
    get playing() { return view.playing; },
    get game() { return view.game; },
    loadedAt: null,  // performance.now() when the last game was shown
    show: (t) => { pause(); setTick(t); },
    chartPoint: (p, t) => chart.pointAt(p, t),
    chartX: (t) => chart.xOf(t, chart.area()),
  };

  layout();
  openFromUrl();
})();
