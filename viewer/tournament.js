// The tournament page: reads a standings.json, shows every entrant's rating with its
// uncertainty, and links each game's replay (when the file was opened by URL, so that the games'
// folders are known).
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
    const lo = Math.min(...lows, 0);
    const hi = Math.max(...highs, 1);
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

    const list = $("games");
    list.replaceChildren();
    const count = Number.isInteger(data.games) ? data.games : 0;
    if (folder === null) {
      const li = document.createElement("li");
      li.textContent = "Open this page as tournament.html?standings=PATH (over HTTP) to link the games' replays.";
      list.appendChild(li);
      return;
    }
    for (let n = 1; n <= count; ++n) {
      const li = document.createElement("li");
      const a = document.createElement("a");
      const game = `${folder}games/${n}/`;
      a.href = `index.html?${new URLSearchParams({ replay: game + "replay.jsonl.gz", results: game + "results.json" })}`;
      a.textContent = `game ${n}`;
      li.appendChild(a);
      list.appendChild(li);
    }
  }

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
