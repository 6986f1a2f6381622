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
    load: null,          // the replay loading now: {cancelled, pendingTick}
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

  // The whole length of the gzip member at the start of bytes, named in its header's "NL" extra
  // field (docs/replay.md); 0 when more bytes are needed to tell, -1 when it names none.
  function memberLength(bytes) {
    if (bytes.length < 12) return 0;
    if (bytes[0] !== 0x1f || bytes[1] !== 0x8b || (bytes[3] & 4) === 0) return -1;
    const end = 12 + (bytes[10] | (bytes[11] << 8));
    if (bytes.length < end) return 0;
    for (let at = 12; at + 4 <= end; at += 4 + (bytes[at + 2] | (bytes[at + 3] << 8))) {
      if (bytes[at] === 0x4e && bytes[at + 1] === 0x4c && bytes[at + 2] === 4 && at + 8 <= end) {
        const length = (bytes[at + 4] | (bytes[at + 5] << 8) | (bytes[at + 6] << 16)) + bytes[at + 7] * 0x1000000;
        return length > end ? length : -1;
      }
    }
    return -1;
  }

  // The decompressed bytes of a gzip stream. A browser's DecompressionStream takes one gzip member,
  // but the arena writes a replay as many, each naming its length: they are cut apart here and
  // decompressed one after the other. A member that names no length takes the rest of the stream.
  // A cut or damaged member gives what it holds, then its error.
  function gunzip(stream) {
    const raw = stream.getReader();
    let held = new Uint8Array(0);
    let member = null;  // the reader of the member being decompressed
    const inflate = (bytes) => bytes.pipeThrough(new DecompressionStream("gzip")).getReader();
    const rest = (first) => new ReadableStream({
      start(c) { if (first.length) c.enqueue(first); },
      async pull(c) {
        const r = await raw.read();
        if (r.done) c.close(); else c.enqueue(r.value);
      },
    });
    return new ReadableStream({
      async pull(c) {
        for (;;) {
          if (member) {
            const r = await member.read();
            if (!r.done) { c.enqueue(r.value); return; }
            member = null;
          }
          const length = memberLength(held);
          if (length > 0 && held.length >= length) {
            member = inflate(new Blob([held.subarray(0, length)]).stream());
            held = held.subarray(length);
            continue;
          }
          if (length < 0) {
            member = inflate(rest(held));
            held = new Uint8Array(0);
            continue;
          }
          const r = await raw.read();
          if (r.done) {
            if (held.length === 0) { c.close(); return; }
            member = inflate(new Blob([held]).stream());
            held = new Uint8Array(0);
            continue;
          }
          const joined = new Uint8Array(held.length + r.value.length);
          joined.set(held);
          joined.set(r.value, held.length);
          held = joined;
        }
      },
      cancel(why) {
        if (member) member.cancel(why).catch(() => {});
        return raw.cancel(why);
      },
    });
  }

  // The text of a byte stream, decompressed when it is gzip (told by its first two bytes).
  async function* textOf(stream, counted) {
    const raw = stream.getReader();
    const first = await raw.read();
    if (first.done) return;
    const gzip = first.value.length >= 2 && first.value[0] === 0x1f && first.value[1] === 0x8b;
    counted(first.value.length);
    let bytes = new ReadableStream({
      start(c) { c.enqueue(first.value); },
      async pull(c) {
        const r = await raw.read();
        if (r.done) { c.close(); return; }
        counted(r.value.length);
        c.enqueue(r.value);
      },
      cancel(why) { return raw.cancel(why); },
    });
    if (gzip) bytes = gunzip(bytes);
    const reader = bytes.getReader();
    const decoder = new TextDecoder();
    try {
      for (;;) {
        const r = await reader.read();
        if (r.done) break;
        yield decoder.decode(r.value, { stream: true });
      }
    } finally {
      reader.cancel().catch(() => {});
    }
    yield decoder.decode();
  }

  const pauseForThePage = () => new Promise((resolve) => setTimeout(resolve, 0));

  // Reads a file or a download as it comes. A version-2 replay is shown as soon as its first tick
  // is in and grows while the rest loads; anything else is read whole and handed to open(). When
  // done: "shown" (with the game on show, whole or partial), "refused" or "cancelled".
  async function load(stream, total, fileName, source, tick, quiet) {
    const what = view.game ? ` Still showing the game that was open.` : "";
    const me = { cancelled: false, pendingTick: tick };
    let game = null;
    let whole = null;  // the parts of a file read whole
    let buffer = "";
    let done = 0;
    let problem = null;
    let lastShown = performance.now();
    let pausedAt = performance.now();
    const bar = (n) => {
      done += n;
      if (view.load === me || !view.game) showProgress(done, total);
    };
    try {
      for await (const chunk of textOf(stream, bar)) {
        if (me.cancelled) return "cancelled";
        if (whole) { whole.push(chunk); continue; }
        buffer += chunk;
        let at = 0;
        for (let feed = buffer.indexOf("\n"); feed >= 0; feed = buffer.indexOf("\n", at)) {
          const line = buffer.slice(at, feed);
          if (!game) {
            let header = null;
            try { header = JSON.parse(line); } catch (e) { /* not a header: read whole */ }
            if (!N.isStreamHeader(header)) break;
            game = new N.GameBuilder(header.settings, header.players);
          } else if (line.trim() !== "") {
            game.addLine(JSON.parse(line));
          }
          at = feed + 1;
          // The first tick on show at once; then the page gets its turn every 40 ms.
          const shown = view.load === me;
          if (game.lastTick < 0 || (shown && performance.now() - pausedAt < 40)) continue;
          buffer = buffer.slice(at);
          at = 0;
          if (!shown) {
            stopLoading();
            view.load = me;
            showProgress(done, total);
            say("");
            showGame(game, source, 0);
            lastShown = performance.now();
          } else if (performance.now() - lastShown > 250) {
            lastShown = performance.now();
            grown();
            takePendingTick(me);
          }
          await pauseForThePage();  // the page stays responsive while a big file loads
          pausedAt = performance.now();
          if (me.cancelled) return "cancelled";
        }
        if (!game && (at === 0 && (buffer.includes("\n") || buffer.length > (1 << 20)))) {
          whole = [buffer];
          buffer = "";
          continue;
        }
        buffer = buffer.slice(at);
      }
    } catch (e) {
      problem = e;
    }
    if (me.cancelled) return "cancelled";
    if (whole || (!game && !problem)) {
      $("progress").hidden = view.load === null;
      return open((whole || []).join("") + buffer, fileName, source, tick, quiet) ? "shown" : "refused";
    }
    if (!game || game.lastTick < 0) {
      $("progress").hidden = view.load === null;
      say(`Cannot show ${fileName}: ${problem ? problem.message : "it holds no tick"}.${what}`);
      return "refused";
    }
    if (view.load !== me) {  // everything came in one piece
      stopLoading();
      view.load = me;
      showGame(game, source, 0);
    }
    game.loading = false;
    view.load = null;
    $("progress").hidden = true;
    grown();
    me.pendingTick = me.pendingTick === undefined ? undefined : Math.min(game.lastTick, me.pendingTick);
    takePendingTick(me);
    if (problem || buffer.trim() !== "" || !game.ended) {
      const why = problem ? `: ${problem.message}` : "";
      say(`${fileName} ends at tick ${game.lastTick} without the game's end${why} ` +
          "(a partial replay: its arena was stopped before it finished the file).", true);
    }
    window.nimbusViewer.loadedAt = performance.now();
    return "shown";
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
