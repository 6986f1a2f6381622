// Browser tests of the replay viewer and the tournament page: a game played by nimbus-arena and a
// small tournament played by nimbus-tournament in this run, shown in Debian's chromium.
// Usage: node viewer_test.js ARENA TOURNAMENT OUT_DIR (OUT_DIR receives the games and
// screenshots of the start, middle and end of the game and of the tournament page).
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const zlib = require("node:zlib");
const { execFileSync } = require("node:child_process");
const { serve, launch, newPage } = require("../../tools/browser_support.js");

const [arena, tournament, out] = process.argv.slice(2);
const viewerDir = path.resolve(__dirname, "../../viewer");
let base;
let server;
let browser;
let results;
let replay;
const pages = [];

// A page of the viewer; every page's console errors are checked at the end.
async function open(query, width = 1024, height = 600) {
  const page = await newPage(browser, width, height);
  pages.push(page);
  await page.goto(`${base}/viewer/index.html${query}`);
  if (query.includes("replay=")) {
    await page.waitForFunction(() => window.nimbusViewer && window.nimbusViewer.game && !window.nimbusViewer.loading);
  }
  return page;
}

// A replay file's header, players and last tick (docs/replay.md).
function readReplay(file) {
  const lines = zlib.gunzipSync(fs.readFileSync(file)).toString("utf8").trim().split("\n").map((l) => JSON.parse(l));
  return { players: lines[0].players, lastTick: lines[lines.length - 1].end_tick, lines };
}

// Writes lines as a gzip-compressed replay.
function writeReplay(file, lines) {
  fs.writeFileSync(file, zlib.gzipSync(lines.map((l) => JSON.stringify(l)).join("\n") + "\n"));
}

// A replay whose header is followed by one line of 4 GiB of "x", in 4 MB of gzip: a MiB of "x"
// compressed once (flushed whole, so that the pieces join) and repeated.
function writeLongLine(file, header) {
  const head = Buffer.from(JSON.stringify(header) + "\n");
  const mib = Buffer.alloc(1 << 20, "x");
  // Its CRC-32: a MiB of "x" maps the CRC before it affinely, a map 33 CRCs tell.
  const zero = zlib.crc32(mib, 0);
  const column = Array.from({ length: 32 }, (_, i) => (zlib.crc32(mib, 2 ** i) ^ zero) >>> 0);
  let crc = zlib.crc32(head);
  for (let k = 0; k < 4096; ++k) {
    let next = zero;
    for (let i = 0; i < 32; ++i) if ((crc >>> i) & 1) next ^= column[i];
    crc = next >>> 0;
  }
  const trailer = Buffer.alloc(8);
  trailer.writeUInt32LE(crc, 0);
  trailer.writeUInt32LE(head.length, 4);  // the text's length, modulo 2^32
  const flushed = { finishFlush: zlib.constants.Z_FULL_FLUSH };
  fs.writeFileSync(file, Buffer.concat([Buffer.from([0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 255]),
    zlib.deflateRawSync(head, flushed), ...Array(4096).fill(zlib.deflateRawSync(mib, flushed)),
    zlib.deflateRawSync(Buffer.alloc(0)), trailer]));
}

const GAME = "?replay=/games/game.replay.jsonl.gz&results=/games/game.results.json";
const tickOf = (page) => page.evaluate(() => window.nimbusViewer.tick);
const urlTick = (page) => page.evaluate(() => new URL(location.href).searchParams.get("tick"));
const indexOf = (row) => (Number.isInteger(row.index) ? row.index : replay.players.findIndex((p) => p.name === row.name));

test.before(async () => {
  fs.mkdirSync(out, { recursive: true });
  // Deterministic: builtin players only, and a seed in which a player goes out.
  execFileSync(arena, ["--port", "0", "--seed", "1", "--ticks", "800", "--tick-ms", "1",
    "--rainclouds", "30", "--quiet", "--replay", path.join(out, "game.replay.jsonl.gz"),
    "--results", path.join(out, "game.results.json"), "builtin:greedy", "builtin:greedy",
    "builtin:idle", "builtin:greedy", "builtin:idle", "builtin:greedy"], { stdio: "ignore" });
  results = JSON.parse(fs.readFileSync(path.join(out, "game.results.json"), "utf8"));
  replay = readReplay(path.join(out, "game.replay.jsonl.gz"));
  fs.writeFileSync(path.join(out, "not-a-replay.json"), '{"hello": "world"}');
  const header = replay.lines[0];
  fs.writeFileSync(path.join(out, "broken.replay.json"), JSON.stringify({
    format: "nimbus-arena-replay", version: 1, settings: header.settings, players: header.players,
    frames: [[[0, "T", 0, 1, 2]]], events: [] }));
  writeReplay(path.join(out, "broken.replay.jsonl.gz"), [header, { t: 0, p: [0, 1] }]);
  fs.copyFileSync(path.join(__dirname, "../arena/data/version1-replay.json"), path.join(out, "version1.replay.json"));
  const gz = fs.readFileSync(path.join(out, "game.replay.jsonl.gz"));
  fs.writeFileSync(path.join(out, "game.replay.jsonl.gz.partial"), gz.subarray(0, Math.floor(gz.length / 2)));
  ({ server, base } = await serve({ "/viewer/": viewerDir + "/", "/games/": path.resolve(out) + "/" }));
  browser = await launch();
});

test.after(async () => {
  if (browser) await browser.close();
  if (server) server.close();
});

test("the standings panel and the chart's last points agree with the results", async () => {
  const page = await open(GAME + "&tick=0");
  await page.screenshot({ path: path.join(out, "start.png") });
  const rows = await page.$$eval("#standings tbody tr", (trs) =>
    trs.map((tr) => [...tr.children].map((td) => td.textContent)));
  const last = replay.lastTick;
  assert.equal(rows.length, results.players.length);
  results.players.forEach((r, i) => {
    const status = r.status === "disconnected" ? `disconnected at tick ${r.left_at_tick}`
      : r.out_at_tick !== null ? `out at tick ${r.out_at_tick}` : r.status || "playing";
    assert.deepEqual([rows[i][0], rows[i][1], rows[i][2], rows[i][4]],
                     [String(r.rank), r.name, status, r.final_mass.toFixed(1)]);
  });
  for (const r of results.players) {
    const point = await page.evaluate(([p, t]) => window.nimbusViewer.chartPoint(p, t), [indexOf(r), last]);
    if (r.out_at_tick !== null) {
      assert.equal(point, null, `${r.name} is out: no point at the end`);
    } else {
      assert.ok(Math.abs(point.mass - r.final_mass) < 0.006, `${r.name}: ${point.mass} vs ${r.final_mass}`);
    }
  }
});

test("buttons, keys, the chart and event links move the tick, and the URL follows", async () => {
  const page = await open(GAME + "&tick=100");
  const last = replay.lastTick;
  const moves = [["#fwd1", 101], ["#fwd10", 111], ["#back1", 110], ["#back10", 100]];
  for (const [button, want] of moves) {
    await page.click(button);
    assert.equal(await tickOf(page), want, button);
    assert.equal(await urlTick(page), String(want));
  }
  const keys = [["ArrowRight", 101], ["Shift+ArrowRight", 111], ["ArrowUp", 121], ["ArrowDown", 111],
                ["ArrowLeft", 110], ["End", last], ["Home", 0]];
  for (const [key, want] of keys) {
    await page.keyboard.press(key);  // focus is still on the last button clicked
    assert.equal(await tickOf(page), want, key);
    assert.equal(await urlTick(page), String(want));
  }
  // Space plays and pauses exactly once each, even with a button focused.
  await page.keyboard.press("Space");
  await page.waitForFunction(() => window.nimbusViewer.tick > 20);
  assert.equal(await page.evaluate(() => window.nimbusViewer.playing), true);
  await page.keyboard.press("Space");
  assert.equal(await page.evaluate(() => window.nimbusViewer.playing), false);
  assert.equal(await urlTick(page), String(await tickOf(page)));

  const box = await page.locator("#chart").boundingBox();
  const x = await page.evaluate((t) => window.nimbusViewer.chartX(t), Math.round(last / 2));
  await page.mouse.click(box.x + x, box.y + box.height / 2);
  assert.ok(Math.abs((await tickOf(page)) - last / 2) <= 2, "a click in the chart's middle");
  await page.screenshot({ path: path.join(out, "middle.png") });

  const link = page.locator("#events a").nth(1);
  const target = Number((await link.textContent()).replace("tick ", ""));
  await link.click();
  assert.equal(await tickOf(page), target);
  assert.equal(await page.locator("#events li.current a").textContent(), `tick ${target}`);
  assert.equal(await urlTick(page), String(target));
});

test("a wrong file is refused and leaves the game on show untouched", async () => {
  const page = await open("?replay=/games/game.replay.jsonl.gz&tick=50");
  await page.keyboard.press("Space");  // the first bug struck while a replay played
  await page.evaluate(() => { window.before = window.nimbusViewer.game; });
  for (const [file, why] of [["not-a-replay.json", /Cannot show not-a-replay.json: it has no "format"/],
                             ["broken.replay.json", /Cannot show broken.replay.json: frame 0 has a malformed cloud/],
                             ["broken.replay.jsonl.gz", /Cannot show broken.replay.jsonl.gz: tick 0 has no positions/]]) {
    await page.setInputFiles("#file", path.join(out, file));
    await page.waitForFunction((f) => document.getElementById("message").textContent.includes(f), file);
    assert.match(await page.textContent("#message"), why);
    assert.equal(await page.evaluate(() => window.nimbusViewer.game === window.before), true);
  }
  // The game's own results file is not a replay either: it adds the arena's standings.
  await page.setInputFiles("#file", path.join(out, "game.results.json"));
  await page.waitForFunction(() => window.nimbusViewer.game.results !== null);
  assert.equal(await page.evaluate(() => window.nimbusViewer.game === window.before), true);
  assert.ok((await tickOf(page)) >= 50, "the tick was kept");
});

test("a tick in the URL that is not a tick never blanks the arena", async () => {
  const last = replay.lastTick;
  for (const [tick, want] of [["-5", 0], ["abc", 0], ["999999", last]]) {
    const page = await open(`?replay=/games/game.replay.jsonl.gz&tick=${tick}`);
    assert.equal(await tickOf(page), want, `tick=${tick}`);
    const coloured = await page.evaluate(() => {
      const c = document.getElementById("arena");
      const d = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
      let n = 0;
      for (let i = 0; i < d.length; i += 4) n += d[i] > 150 || d[i + 1] > 150 || d[i + 2] > 150 ? 1 : 0;
      return n;
    });
    assert.ok(coloured > 100, `tick=${tick}: the clouds are drawn`);
    await page.close();
  }
});

test("everything fits a 1024x600 window, and a 420 px one reads without sideways scrolling", async () => {
  const page = await open(GAME + "&tick=" + replay.lastTick);
  await page.screenshot({ path: path.join(out, "end.png") });
  const bottoms = await page.evaluate(() => ["arena", "chart", "events", "standings"].map((id) =>
    document.getElementById(id).getBoundingClientRect().bottom));
  for (const b of bottoms) assert.ok(b <= 600, `bottom ${b}`);
  assert.equal(await page.evaluate(() => document.documentElement.scrollHeight <= innerHeight), true);
  assert.equal(await page.evaluate(() => document.getElementById("standings").scrollWidth <=
                                         document.getElementById("side").clientWidth), true, "the standings fit their panel");

  const small = await open(GAME + "&tick=300", 420, 800);
  await small.screenshot({ path: path.join(out, "narrow.png"), fullPage: true });
  assert.equal(await small.evaluate(() => document.documentElement.scrollWidth), 420);
  const clipped = await small.$$eval("#standings td.name", (tds) => tds.filter((td) => td.scrollWidth > td.clientWidth).length);
  assert.equal(clipped, 0, "every name is shown whole");
});

test("the tournament page ranks the entrants as standings.json does and links each game", async () => {
  const dir = path.join(out, "tour");
  fs.rmSync(dir, { recursive: true, force: true });
  execFileSync(tournament, ["run", "--games", "2", "--players", "2", "--ticks", "300", "--tick-ms", "1",
    "--rainclouds", "20", "--parallel", "1", "--arena", arena, "--out", dir, "builtin:greedy", "builtin:idle"],
  { stdio: "ignore" });
  const standings = JSON.parse(fs.readFileSync(path.join(dir, "standings.json"), "utf8"));
  const page = await open("", 1024, 600);
  await page.goto(`${base}/viewer/tournament.html?standings=/games/tour/standings.json`);
  await page.waitForSelector("#games a");
  await page.screenshot({ path: path.join(out, "tournament.png") });
  const rows = await page.$$eval("#entrants tbody tr", (trs) => trs.map((tr) => [...tr.children].map((td) => td.textContent)));
  assert.deepEqual(rows.map((r) => [r[0], r[1], r[2], r[3]]), standings.entrants.map((e) =>
    [String(e.place), e.label, e.ordinal.toFixed(2), `${e.mu.toFixed(2)} ± ${e.sigma.toFixed(2)}`]));
  assert.equal(await page.locator("#games a").count(), standings.games);
  await page.locator("#games a").nth(1).click();
  await page.waitForFunction(() => window.nimbusViewer && window.nimbusViewer.game && window.nimbusViewer.game.results);
  const game2 = JSON.parse(fs.readFileSync(path.join(dir, "games/2/results.json"), "utf8"));
  assert.deepEqual(await page.$$eval("#standings td.name", (tds) => tds.map((td) => td.textContent)),
                   game2.players.map((p) => p.name));
});

test("a replay of the arena's format version 1 and a partial replay open; the partial one says so", async () => {
  const old = await open("?replay=/games/version1.replay.json&tick=60");
  assert.equal(await old.evaluate(() => window.nimbusViewer.game.lastTick), 120);
  assert.equal(await tickOf(old), 60);
  assert.equal(await old.locator("#standings tbody tr").count(), 3);
  const cut = await open("?replay=/games/game.replay.jsonl.gz.partial&tick=5");
  const shown = await cut.evaluate(() => window.nimbusViewer.game.lastTick);
  assert.ok(shown > 5 && shown < replay.lastTick, `${shown} ticks of ${replay.lastTick}`);
  assert.match(await cut.textContent("#message"), /ends at tick \d+ without the game's end.*partial replay/);
  assert.match(await cut.textContent("#end-reason"), /partial replay/);
});

test("a long game with 256,000 winds shows its first ticks while it loads, then every wind", async () => {
  // Two clouds drifting for 64,000 ticks, each player blowing twice a tick (not a real game:
  // the viewer checks shape, not physics).
  const ticks = 64000;
  const lines = [{ format: "nimbus-arena-replay", version: 2, settings: { seed: 1, ticks, rainclouds: 1, players: 2, tick_ms: 16 },
                   players: [{ index: 0, name: "left", kind: "bot" }, { index: 1, name: "right", kind: "bot" }] },
                 { t: 0, p: [0, 100, 100, 1, 1100, 600, 2, 640, 360], m: [[0, 100], [1, 100], [2, 10]] }];
  for (let t = 1; t <= ticks; ++t) {
    lines.push({ t, p: [0, 100 + (t % 900), 100, 1, 1100 - (t % 900), 600],
                 w: [[0, 0.25, 0], [0, 0, 0.25], [1, -0.25, 0], [1, 0, -0.25]] });
  }
  lines.push({ end_tick: ticks, end_reason: "ticks", refused: [0, 0], f: "0" });
  writeReplay(path.join(out, "winds.replay.jsonl.gz"), lines);
  const page = await newPage(browser, 1024, 600);
  pages.push(page);
  await page.goto(`${base}/viewer/index.html?replay=${encodeURIComponent("/games/winds.replay.jsonl.gz?slow=3000")}`);
  // Shown while the rest of the file is still on its way.
  await page.waitForFunction(() => window.nimbusViewer.game && window.nimbusViewer.loading, null, { timeout: 60000 });
  assert.equal(await page.locator("#progress").isVisible(), true);
  await page.waitForFunction(() => !window.nimbusViewer.loading, null, { timeout: 120000 });
  assert.equal(await page.locator("#progress").isVisible(), false);
  await page.check("#show-winds");
  assert.equal(await page.evaluate(() => window.nimbusViewer.game.eventCount()), 4 * ticks);
  for (const t of [1, 30000, ticks, 7]) {
    await page.evaluate((tick) => window.nimbusViewer.show(tick), t);
    assert.equal(await page.locator("#events li.current a").textContent(), `tick ${t}`);
  }
  await page.keyboard.press("End");
  await page.keyboard.press("ArrowLeft");
  const link = page.locator("#events a").nth(12);  // in view: ten rows above it are drawn unseen
  const target = Number((await link.textContent()).replace("tick ", ""));
  await link.click();
  assert.equal(await tickOf(page), target);
  assert.ok(await page.locator("#events li").count() < 200, "only the rows in view are drawn");
});

test("a 4 GiB line is refused within seconds; plain gzip members one after the other open", async () => {
  writeLongLine(path.join(out, "line.replay.jsonl.gz"), replay.lines[0]);
  // The game in two gzip members that name no length, cut mid-line: cat a.gz b.gz.
  const text = zlib.gunzipSync(fs.readFileSync(path.join(out, "game.replay.jsonl.gz")));
  const cut = Math.floor(text.length / 2);
  fs.writeFileSync(path.join(out, "cat.replay.jsonl.gz"),
                   Buffer.concat([zlib.gzipSync(text.subarray(0, cut)), zlib.gzipSync(text.subarray(cut))]));
  for (const [file, message, lastTick] of [
    ["line.replay.jsonl.gz", /^Cannot show line.replay.jsonl.gz: line 2 is longer than 1 MiB, the most a replay's line may hold\.$/, null],
    ["cat.replay.jsonl.gz", /^$/, replay.lastTick]]) {
    const page = await open("");
    await page.setInputFiles("#file", path.join(out, file));
    await page.waitForFunction(() => !document.getElementById("message").hidden || window.nimbusViewer.loadedAt !== null,
                               null, { timeout: 20000 });
    await page.waitForFunction(() => 1 + 1 === 2, null, { timeout: 5000 });  // the page answers
    assert.match(await page.textContent("#message"), message, file);
    assert.equal(await page.evaluate(() => window.nimbusViewer.game && window.nimbusViewer.game.lastTick), lastTick, file);
    await page.close();
  }
});

test("no page logged an error", () => {
  for (const page of pages) assert.deepEqual(page.errors, []);
});
