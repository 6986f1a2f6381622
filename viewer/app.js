// The viewer page: loads games (file picker, drop, or ?replay=PATH&results=PATH&tick=N) as a
// stream, showing the first ticks while the rest loads, plays them, and keeps the arena, the chart,
// the standings, the events and the URL on one tick.
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
    load: null,          // the replay loading now: {cancelled, pendingTick, fileName, source, ...}
  };
  const ROW = 16;        // the height of an event's row, as viewer.css sets it

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
    $("tick-label").textContent = `tick ${view.tick} / ${g.lastTick}` + (g.loading ? " (loading)" : "");
    for (const [p, cell] of view.nowCells) {
      const m = g.massAt(p, view.tick);
      cell.textContent = Number.isNaN(m) ? "–" : m.toFixed(1);
    }
    followEvents();
    const banner = $("banner");
    if (view.tick === g.lastTick && !g.loading) {
      const top = N.standings(g)[0];
      banner.replaceChildren();
      const b = document.createElement("b");
      b.textContent = `Winner: ${top.name}`;
      banner.append(b, document.createElement("br"),
                    g.ended ? `game over at tick ${g.lastTick}: ${N.endReasonText(g.endReason, g.settings.ticks)}`
                            : `the record ends at tick ${g.lastTick}, before the game's end`);
      banner.hidden = false;
    } else {
      banner.hidden = true;
    }
  }

  function showStandings() {
    const g = view.game;
    $("end-reason").textContent = g.loading ? `Loading: tick ${g.lastTick} of up to ${g.plannedTicks}...`
      : !g.ended ? `The record ends at tick ${g.lastTick}, before the game's end (a partial replay).`
      : `Game over at tick ${g.lastTick}: ${N.endReasonText(g.endReason, g.settings.ticks)}.` +
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
  // The list draws only the rows in view (any number of events, hundreds of thousands of winds):
  // a spacer above and one below stand for the others.
  function showEvents() {
    const g = view.game;
    const who = $("who").value === "all" ? -1 : Number($("who").value);
    const winds = $("show-winds").checked;
    const shown = [];
    for (let k = 0, n = g.eventCount(); k < n; ++k) {
      const i = g.eventAt(k);
      if ((winds || !g.isWind(i)) && (who < 0 || g.involves(i, who))) shown.push(i);
    }
    view.shown = Int32Array.from(shown);  // event numbers, in tick order
    view.currentEvent = -1;
    drawEventRows();
    followEvents();
  }

  // Stands for rows not drawn.
  function spacer(rows) {
    const li = document.createElement("li");
    li.className = "spacer";
    li.style.height = `${rows * ROW}px`;
    return li;
  }

  function drawEventRows() {
    const shown = view.shown;
    if (!shown.length) {
      const li = document.createElement("li");
      li.textContent = "no events";
      eventList.replaceChildren(li);
      return;
    }
    const first = Math.max(0, Math.min(shown.length - 1, Math.floor(eventList.scrollTop / ROW) - 10));
    const last = Math.min(shown.length, first + Math.ceil(eventList.clientHeight / ROW) + 20);
    const rows = document.createDocumentFragment();
    const g = view.game;
    for (let i = first; i < last; ++i) {
      const tick = g.eventTick(shown[i]);
      const text = g.eventText(shown[i]);
      const li = document.createElement("li");
      if (i > view.currentEvent) li.className = "future";
      if (i === view.currentEvent) li.className = "current";
      li.dataset.tick = String(tick);
      li.title = text;
      const a = document.createElement("a");
      a.href = urlFor(tick);
      a.textContent = `tick ${tick}`;
      a.dataset.index = String(i);
      li.append(a, text);
      rows.appendChild(li);
    }
    eventList.replaceChildren(spacer(first), rows, spacer(shown.length - last));
  }

  // Marks the events up to the tick as past, the last of them as current, and keeps it in view.
  function followEvents() {
    const shown = view.shown;
    let lo = 0;
    let hi = shown.length;  // first event after the tick
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (view.game.eventTick(shown[mid]) <= view.tick) lo = mid + 1; else hi = mid;
    }
    const next = lo - 1;
    if (next === view.currentEvent) return;
    view.currentEvent = next;
    eventList.scrollTop = Math.max(0, next) * ROW - eventList.clientHeight / 2 + ROW / 2;
    drawEventRows();
  }

  // ---- loading ----------------------------------------------------------------------------------
  function showGame(game, source, tick) {
    pause();
    view.game = game;
    view.source = source;
    view.resultsSource = "";
    chart.setGame(game);
    for (const id of ["slider", "play", "back1", "back10", "fwd1", "fwd10"]) $(id).disabled = false;
    const who = $("who");
    who.replaceChildren(new Option("all players", "all"));
    game.players.forEach((p, i) => who.appendChild(new Option(p.name, String(i))));
    document.title = `nimbus replay: ${game.players.map((p) => p.name).join(", ")}`;
    grown();
    layout();
    setTick(tick);
    window.nimbusViewer.shownAt = performance.now();
    if (!game.loading) window.nimbusViewer.loadedAt = window.nimbusViewer.shownAt;
  }

  // The game on show has more ticks (or has finished loading): everything that depends on them.
  function grown() {
    const g = view.game;
    slider.max = String(g.lastTick);
    chart.invalidate();
    showStandings();
    showEvents();
    render();
  }

  function attach(results, source, fileName, quiet) {
    if (view.game.loading) throw new Error("the replay is still loading: open the results once it is shown whole");
    N.attachResults(view.game, results);  // throws before anything changes
    view.resultsSource = source;
    grown();
    writeUrl();
    say(quiet ? "" : `Standings from ${fileName}.`, true);
  }

  // A whole file's text (a version-1 replay or a game's results). A file that is neither a replay
  // nor the results of the game on show is refused before anything on show changes.
  function open(text, fileName, source, tick, quiet) {
    const what = view.game ? ` Still showing the game that was open.` : "";
    try {
      const file = N.readGameFile(text);
      if (file.kind === "replay") {
        const game = N.buildGame(file.replay);
        stopLoading();
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

  function stopLoading() {
    if (view.load) view.load.cancelled = true;
    view.load = null;
    $("progress").hidden = true;
  }

  function showProgress(done, total) {
    const bar = $("progress");
    bar.hidden = false;
    if (total > 0) bar.value = Math.min(1, done / total); else bar.removeAttribute("value");
  }

  const pauseForThePage = () => new Promise((resolve) => setTimeout(resolve, 0));
  // A first line longer than this is no replay's header: the file is read whole.
  const HEADER_BYTES = 1 << 20;

  // Reads a file or a download as it comes. A version-2 replay is shown as soon as its first tick
  // is in and grows while the rest loads; anything else is read whole and handed to open(). When
  // done: "shown" (with the game on show, whole or partial), "refused" or "cancelled".
  async function load(stream, total, fileName, source, tick, quiet) {
    const me = { cancelled: false, pendingTick: tick, fileName, source, read: 0, total,
                 kept: view.game ? " Still showing the game that was open." : "" };
    const reader = new N.ReplayReader(stream, (n) => {
      me.read += n;
      if (view.load === me || !view.game) showProgress(me.read, total);
    });
    try {
      const start = await readHeader(reader);
      if (start.problem) return refuse(me, start.problem.message);
      if (!start.game) return openWhole(start.text + await reader.rest(), me, tick, quiet);
      const problem = await readTicks(reader, start.game, me);
      if (me.cancelled) return "cancelled";
      const cut = !problem && (await reader.rest()).trim() !== "";
      return finishLoading(start.game, me, problem, cut);
    } finally {
      reader.cancel();  // a file refused midway is read no further
    }
  }

  // The first line: {game} (with no tick yet) when it is a version-2 replay's header, else
  // {text}, the start of a file to read whole; {problem} when the file cannot be read.
  async function readHeader(reader) {
    try {
      const line = await reader.line(HEADER_BYTES);
      if (line === null) return { text: "" };
      let header = null;
      try { header = JSON.parse(line); } catch (e) { /* not a header: read whole */ }
      if (!N.isStreamHeader(header)) return { text: line + "\n" };
      return { game: new N.GameBuilder(header.settings, header.players) };
    } catch (e) {
      return { problem: e };
    }
  }

  // Adds the tick lines to the game as they come. The game is shown once its first tick is in,
  // and grows on the page while the rest loads, the page getting its turn every 40 ms. Resolves
  // to what stopped the reading before the end of the file (an Error), else null.
  async function readTicks(reader, game, me) {
    let lastShown = performance.now();
    let pausedAt = performance.now();
    try {
      for (let number = 2; ; ++number) {
        const line = await reader.line(N.MAX_REPLAY_LINE_BYTES);
        if (me.cancelled || (line === null && reader.ended)) return null;
        if (line === null) {
          throw new Error(`line ${number} is longer than ${N.MAX_REPLAY_LINE_BYTES / 1048576} MiB, ` +
                          "the most a replay's line may hold");
        }
        if (line.trim() !== "") game.addLine(JSON.parse(line));
        const shown = view.load === me;
        if (game.lastTick < 0 || (shown && performance.now() - pausedAt < 40)) continue;
        if (!shown) {
          showLoading(game, me);
          lastShown = performance.now();
        } else if (performance.now() - lastShown > 250) {
          lastShown = performance.now();
          grown();
          takePendingTick(me);
        }
        await pauseForThePage();  // the page stays responsive while a big file loads
        pausedAt = performance.now();
        if (me.cancelled) return null;
      }
    } catch (e) {
      return e;
    }
  }

  // The first tick of a replay still loading is in: the game on show, the rest to come.
  function showLoading(game, me) {
    stopLoading();
    view.load = me;
    showProgress(me.read, me.total);
    say("");
    showGame(game, me.source, 0);
  }

  // The file is read: the game on show whole, or as much as the file holds of it, saying why it
  // ends early (a problem, a cut last line, no end line); refused when it holds no tick.
  function finishLoading(game, me, problem, cut) {
    if (game.lastTick < 0) return refuse(me, problem ? problem.message : "it holds no tick");
    if (view.load !== me) {  // everything came in one piece
      stopLoading();
      view.load = me;
      showGame(game, me.source, 0);
    }
    game.loading = false;
    view.load = null;
    $("progress").hidden = true;
    grown();
    me.pendingTick = me.pendingTick === undefined ? undefined : Math.min(game.lastTick, me.pendingTick);
    takePendingTick(me);
    if (problem || cut || !game.ended) {
      const why = problem ? `: ${problem.message}` : "";
      say(`${me.fileName} ends at tick ${game.lastTick} without the game's end${why} ` +
          "(a partial replay: its arena was stopped before it finished the file).", true);
    }
    window.nimbusViewer.loadedAt = performance.now();
    return "shown";
  }

  // A file that is not a version-2 replay, read whole.
  function openWhole(text, me, tick, quiet) {
    $("progress").hidden = view.load === null;
    return open(text, me.fileName, me.source, tick, quiet) ? "shown" : "refused";
  }

  function refuse(me, why) {
    $("progress").hidden = view.load === null;
    say(`Cannot show ${me.fileName}: ${why}.${me.kept}`);
    return "refused";
  }

  function takePendingTick(load) {
    if (load.pendingTick !== undefined && view.game.lastTick >= load.pendingTick) {
      setTick(load.pendingTick);
      load.pendingTick = undefined;
    }
  }

  function openFile(file) {
    if (!file) return;
    load(file.stream(), file.size, file.name, "").catch((e) => say(`Cannot read ${file.name}: ${e.message}.`));
  }

  function fetchStream(path) {
    const early = window.nimbusReplayFetch;  // started by index.html before the scripts loaded
    window.nimbusReplayFetch = null;
    return (early && early.path === path ? early.response : fetch(path)).then((r) => {
      if (!r.ok) throw new Error(`${r.status} ${r.statusText}`);
      return { body: r.body, total: Number(r.headers.get("Content-Length")) || 0 };
    });
  }

  function openFromUrl() {
    const q = new URLSearchParams(location.search);
    const replay = q.get("replay");
    if (!replay) return;
    say(`Loading ${replay} ...`, true);  // cleared once it is shown
    fetchStream(replay).then(({ body, total }) => load(body, total, replay, replay, parseTick(q.get("tick"), Infinity)))
      .then((how) => {
        const results = q.get("results");
        if (how !== "shown" || !results) return;
        return fetchStream(results).then(({ body, total }) => load(body, total, results, results, undefined, true),
                                          (e) => say(`Cannot load ${results}: ${e.message}.`));
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
  let rowsPending = false;
  eventList.addEventListener("scroll", () => {
    if (rowsPending) return;
    rowsPending = true;
    requestAnimationFrame(() => { rowsPending = false; drawEventRows(); });
  });
  $("show-winds").addEventListener("change", showEvents);
  eventList.addEventListener("click", (e) => {
    const a = e.target.closest("a");
    if (!a) return;
    e.preventDefault();
    step(view.game.eventTick(view.shown[Number(a.dataset.index)]) - view.tick);
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
    get loading() { return view.load !== null; },
    shownAt: null,   // performance.now() when the last game was first shown
    loadedAt: null,  // ... and when it was loaded whole
    show: (t) => { pause(); setTick(t); },
    chartPoint: (p, t) => chart.pointAt(p, t),
    chartX: (t) => chart.xOf(t, chart.area()),
  };

  layout();
  openFromUrl();
})();
