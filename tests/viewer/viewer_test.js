// Browser tests of the replay viewer and the tournament page: a game played by nimbus-arena and a
// small tournament played by nimbus-tournament in this run, shown in Debian's chromium.
// Usage: node viewer_test.js ARENA TOURNAMENT OUT_DIR (OUT_DIR receives the games and
// screenshots of the start, middle and end of the game and of the tournament page).
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const { execFileSync } = require("node:child_process");
const { serve, launch, newPage } = require("./browser_support.js");

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
    await page.waitForFunction(() => window.nimbusViewer && window.nimbusViewer.game);
  }
  return page;
}

const GAME = "?replay=/games/game.replay.json&results=/games/game.results.json";
const tickOf = (page) => page.evaluate(() => window.nimbusViewer.tick);
const urlTick = (page) => page.evaluate(() => new URL(location.href).searchParams.get("tick"));
const indexOf = (row) => (Number.isInteger(row.index) ? row.index : replay.players.findIndex((p) => p.name === row.name));

test.before(async () => {
  fs.mkdirSync(out, { recursive: true });
  // Deterministic: builtin players only, and a seed in which a player goes out.
  execFileSync(arena, ["--port", "0", "--seed", "1", "--ticks", "800", "--tick-ms", "1",
    "--rainclouds", "30", "--quiet", "--replay", path.join(out, "game.replay.json"),
    "--results", path.join(out, "game.results.json"), "builtin:greedy", "builtin:greedy",
    "builtin:idle", "builtin:greedy", "builtin:idle", "builtin:greedy"], { stdio: "ignore" });
  results = JSON.parse(fs.readFileSync(path.join(out, "game.results.json"), "utf8"));
  replay = JSON.parse(fs.readFileSync(path.join(out, "game.replay.json"), "utf8"));
  fs.writeFileSync(path.join(out, "not-a-replay.json"), '{"hello": "world"}');
  const broken = Object.assign({}, replay, { frames: [[[0, "T", 0, 1, 2]]] });
  fs.writeFileSync(path.join(out, "broken.replay.json"), JSON.stringify(broken));
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
  const last = replay.frames.length - 1;
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
  const last = replay.frames.length - 1;
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
  const page = await open("?replay=/games/game.replay.json&tick=50");
  await page.keyboard.press("Space");  // the first bug struck while a replay played
  await page.evaluate(() => { window.before = window.nimbusViewer.game; });
  for (const [file, why] of [["not-a-replay.json", /Cannot show not-a-replay.json: it has no "format"/],
                             ["broken.replay.json", /Cannot show broken.replay.json: frame 0 has a malformed cloud/]]) {
    await page.setInputFiles("#file", path.join(out, file));
    await page.waitForFunction((f) => document.getElementById("message").textContent.includes(f), file);
    assert.match(await page.textContent("#message"), why);
    assert.equal(await page.evaluate(() => window.nimbusViewer.game === window.before), true);
  }
  // The game's own results file is not a replay either: it adds the arena's standings.
  await page.setInputFiles("#file", path.join(out, "game.results.json"));
  await page.waitForFunction(() => window.nimbusViewer.game.results !== null);
  assert.equal(await page.evaluate(() => window.nimbusViewer.game.replay === window.before.replay), true);
  assert.ok((await tickOf(page)) >= 50, "the tick was kept");
});

test("a tick in the URL that is not a tick never blanks the arena", async () => {
  const last = replay.frames.length - 1;
  for (const [tick, want] of [["-5", 0], ["abc", 0], ["999999", last]]) {
    const page = await open(`?replay=/games/game.replay.json&tick=${tick}`);
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
  const page = await open(GAME + "&tick=" + (replay.frames.length - 1));
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

test("no page logged an error", () => {
  for (const page of pages) assert.deepEqual(page.errors, []);
});
