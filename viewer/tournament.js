// The tournament page: reads a standings.json, shows every entrant's rating with its
// uncertainty, what went wrong (entrants that never connected, unfair pacing), and links each
// game's replay, a page at a time (when the file was opened by URL, so that the games' folders
// are known).
"use strict";
(function () {
  const $ = (id) => document.getElementById(id);

  function say(text) {
    $("message").textContent = text;
    $("message").hidden = !text;
  }

  // Throws with a reason when the text is not a tournament's standings.
  function readStandings(text) {
    let data;
    try {
      data = JSON.parse(text);
    } catch (e) {
      throw new Error("it is not JSON (" + e.message + ")");
    }
    if (!data || !Array.isArray(data.entrants)) {
      if (data && data.format === "nimbus-arena-replay") throw new Error("it is a replay (open it in index.html)");
      throw new Error('it has no "entrants" list');
    }
    for (const e of data.entrants) {
      if (!e || typeof e.mu !== "number" || typeof e.sigma !== "number") {
        throw new Error("an entrant has no rating (mu, sigma)");
      }
    }
    return data;
  }

  const num = (v, digits) => (typeof v === "number" && Number.isFinite(v) ? v.toFixed(digits) : "–");

  function show(data, folder) {
    const entrants = data.entrants;
    const lows = entrants.map((e) => e.mu - 3 * e.sigma);
    const highs = entrants.map((e) => e.mu + 3 * e.sigma);
    const lo = lows.reduce((m, v) => Math.min(m, v), 0);
    const hi = highs.reduce((m, v) => Math.max(m, v), 1);
    const at = (v) => `${((v - lo) / (hi - lo)) * 100}%`;
    const body = $("entrants").tBodies[0];
    body.replaceChildren();
    entrants.forEach((e, i) => {
      const tr = document.createElement("tr");
      const ci = Array.isArray(e.final_mass_ci95)
        ? ` (${num(e.final_mass_ci95[0], 1)} – ${num(e.final_mass_ci95[1], 1)})` : "";
      const cells = [
        [String(e.place ?? i + 1)], [e.label || e.entrant, "entrant"], [num(e.ordinal ?? e.mu - 3 * e.sigma, 2), "num"],
        [`${num(e.mu, 2)} ± ${num(e.sigma, 2)}`], [String(e.games ?? "–"), "num"], [String(e.wins ?? "–"), "num"],
        [num(e.mean_rank, 2), "num"], [num(e.mean_final_mass, 1) + ci, "num"], [String(e.disconnects ?? "–"), "num"],
      ];
      for (const [text, cls] of cells) {
        const td = document.createElement("td");
        td.textContent = text;
        if (cls) td.className = cls;
        tr.appendChild(td);
      }
      tr.children[1].title = e.entrant;
      const bar = document.createElement("span");
      bar.className = "range";
      bar.title = `mu - 3 sigma = ${num(lows[i], 2)}, mu + 3 sigma = ${num(highs[i], 2)}`;
      const span = document.createElement("span");
      span.style.left = at(lows[i]);
      span.style.width = `calc(${at(highs[i])} - ${at(lows[i])})`;
      const mark = document.createElement("i");
      mark.style.left = at(e.mu);
      bar.append(span, mark);
      tr.children[3].appendChild(bar);
      body.appendChild(tr);
    });
    const m = data.rating_model || {};
    $("model").textContent = m.name
      ? `Ratings: ${m.name}, starting at mu ${num(m.mu0, 2)} ± ${num(m.sigma0, 2)}; ordered by ${m.ordinal || "mu - 3 sigma"}.`
      : "";
    $("summary").textContent = `${data.games ?? "?"} games, ${entrants.length} entrants`;

    const warnings = [];
    for (const n of Array.isArray(data.never_connected) ? data.never_connected : []) {
      const tail = Array.isArray(n.log_tail) && n.log_tail.length ? `: ${n.log_tail[n.log_tail.length - 1]}` : "";
      warnings.push(`${n.label || n.entrant} never connected in any of its ${n.seats} seats${tail}`);
    }
    const p = data.pacing;
    if (p && typeof p.tick_lag_p99_ms === "number") {
      warnings.push(`Worst pacing: ${p.worst_game}, tick lag p99 ${num(p.tick_lag_p99_ms, 1)} ms, max ${num(p.tick_lag_max_ms, 1)} ms` +
                    (p.games_over_4_ms > 0 ? `; ${p.games_over_4_ms} games over 4 ms were not fair to real-time bots.` : "."));
    }
    $("warnings").replaceChildren();
    for (const w of warnings) {
      const li = document.createElement("li");
      li.textContent = w;
      $("warnings").appendChild(li);
    }

    // Any number of games: one page of links at a time.
    games.count = Number.isSafeInteger(data.games) && data.games > 0 ? data.games : 0;
    games.folder = folder;
    const wanted = Number(new URLSearchParams(location.search).get("game"));
    showGames(Number.isSafeInteger(wanted) && wanted > 0 ? wanted : 1, wanted);
  }

  const PAGE = 100;
  const games = { count: 0, folder: null, first: 1 };

  // Shows the page of games holding game `at`, marking game `current`.
  function showGames(at, current) {
    const list = $("games");
    list.replaceChildren();
    $("pager").hidden = games.folder === null || games.count <= PAGE;
    if (games.folder === null) {
      const li = document.createElement("li");
      li.textContent = "Open this page as tournament.html?standings=PATH (over HTTP) to link the games' replays.";
      list.appendChild(li);
      return;
    }
    const lastFirst = Math.floor((Math.max(games.count, 1) - 1) / PAGE) * PAGE + 1;
    const first = Math.min(lastFirst, Math.floor((Math.max(1, at) - 1) / PAGE) * PAGE + 1);
    const end = Math.min(games.count, first + PAGE - 1);
    games.first = first;
    list.start = first;
    for (let n = first; n <= end; ++n) {
      const li = document.createElement("li");
      const a = document.createElement("a");
      const game = `${games.folder}games/${n}/`;
      a.href = `index.html?${new URLSearchParams({ replay: game + "replay.jsonl.gz", results: game + "results.json" })}`;
      a.textContent = `game ${n}`;
      if (n === current) li.className = "current";
      li.appendChild(a);
      list.appendChild(li);
    }
    $("range").textContent = games.count > 0 ? `games ${first}–${end} of ${games.count}` : "no games";
    $("first").disabled = $("prev").disabled = first === 1;
    $("next").disabled = $("last").disabled = end >= games.count;
    $("goto").max = String(games.count);
  }

  $("first").addEventListener("click", () => showGames(1));
  $("prev").addEventListener("click", () => showGames(games.first - PAGE));
  $("next").addEventListener("click", () => showGames(games.first + PAGE));
  $("last").addEventListener("click", () => showGames(games.count));
  $("goto").addEventListener("change", (e) => {
    const n = Number(e.target.value);
    if (Number.isSafeInteger(n) && n >= 1 && n <= games.count) showGames(n, n);
  });

  function open(text, name, folder) {
    try {
      show(readStandings(text), folder);
      say("");
    } catch (e) {
      say(`Cannot show ${name}: ${e.message}.`);
    }
  }

  $("file").addEventListener("change", (e) => {
    const f = e.target.files[0];
    if (f) f.text().then((t) => open(t, f.name, null));
  });
  document.addEventListener("dragover", (e) => e.preventDefault());
  document.addEventListener("drop", (e) => {
    e.preventDefault();
    const f = e.dataTransfer.files[0];
    if (f) f.text().then((t) => open(t, f.name, null));
  });

  const path = new URLSearchParams(location.search).get("standings");
  if (path) {
    fetch(path)
      .then((r) => { if (!r.ok) throw new Error(`${r.status} ${r.statusText}`); return r.text(); })
      .then((t) => open(t, path, path.slice(0, path.lastIndexOf("/") + 1)),
            (e) => say(`Cannot load ${path}: ${e.message}.`));
  }
})();
