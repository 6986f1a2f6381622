// The tournament page in a real browser (Debian's chromium) with any number of games: a real
// standings.json of nimbus-tournament, then the same claiming 100,000 and 1e9 games. The page
// shows one page of game links at a time and moves through them without freezing.
// Usage: node tournament_page_test.js TOURNAMENT ARENA OUT_DIR
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const { execFileSync } = require("node:child_process");
const { serve, launch, newPage } = require("../../tools/browser_support.js");

const [tournament, arena, out] = process.argv.slice(2);
const viewerDir = path.resolve(__dirname, "../../viewer");
let base;
let server;
let browser;
const pages = [];

test.before(async () => {
  fs.rmSync(out, { recursive: true, force: true });
  execFileSync(tournament, ["run", "--games", "2", "--players", "2", "--ticks", "100", "--tick-ms", "1",
    "--arena", arena, "--out", path.join(out, "real"), "builtin:greedy", "builtin:idle"], { stdio: "ignore" });
  const standings = JSON.parse(fs.readFileSync(path.join(out, "real", "standings.json"), "utf8"));
  for (const [name, games] of [["big", 100000], ["huge", 1e9]]) {
    fs.mkdirSync(path.join(out, name));
    const claim = Object.assign({}, standings, { games });
    claim.never_connected = [{ entrant: "<img src=x onerror=alert(1)>", label: "<b>typo</b>", seats: 7,
      log: null, log_tail: ["/bin/sh: 1: pyhton3: not found"] }];
    fs.writeFileSync(path.join(out, name, "standings.json"), JSON.stringify(claim));
  }
  ({ server, base } = await serve({ "/viewer/": viewerDir + "/", "/t/": path.resolve(out) + "/" }));
  browser = await launch();
});

test.after(async () => {
  if (browser) await browser.close();
  if (server) server.close();
});

async function open(folder, query = "") {
  const page = await newPage(browser, 1024, 700);
  pages.push(page);
  await page.goto(`${base}/viewer/tournament.html?standings=/t/${folder}/standings.json${query}`);
  await page.waitForSelector("#games a", { timeout: 30000 });
  return page;
}

const links = (page) => page.$$eval("#games a", (as) => as.map((a) => [a.textContent, new URL(a.href).searchParams.get("replay")]));
const range = (page) => page.textContent("#range");

test("a hundred thousand games show a page at a time, and every page is reachable", async () => {
  const page = await open("big");
  let shown = await links(page);
  assert.equal(shown.length, 100);
  assert.deepEqual(shown[0], ["game 1", "/t/big/games/1/replay.jsonl.gz"]);
  assert.equal(await range(page), "games 1–100 of 100000");
  assert.equal(await page.isDisabled("#prev"), true);

  await page.click("#next");
  assert.equal(await range(page), "games 101–200 of 100000");
  await page.click("#last");
  shown = await links(page);
  assert.equal(await range(page), "games 99901–100000 of 100000");
  assert.deepEqual(shown[shown.length - 1], ["game 100000", "/t/big/games/100000/replay.jsonl.gz"]);
  assert.equal(await page.isDisabled("#next"), true);
  await page.click("#prev");
  assert.equal(await range(page), "games 99801–99900 of 100000");

  await page.fill("#goto", "12345");
  await page.press("#goto", "Enter");
  assert.equal(await range(page), "games 12301–12400 of 100000");
  assert.equal(await page.textContent("#games li.current"), "game 12345");

  // What a file says is shown as text, never as markup.
  assert.match(await page.textContent("#warnings"), /<b>typo<\/b> never connected in any of its 7 seats: \/bin\/sh: 1: pyhton3: not found/);
  assert.equal(await page.locator("#warnings b, #warnings img").count(), 0);
});

test("a billion games, and a game asked for in the URL", async () => {
  const page = await open("huge", "&game=999999950");
  assert.equal(await range(page), "games 999999901–1000000000 of 1000000000");
  assert.equal(await page.textContent("#games li.current"), "game 999999950");
  await page.click("#first");
  assert.equal(await range(page), "games 1–100 of 1000000000");
});

test("a small tournament shows all its games without paging", async () => {
  const page = await open("real");
  assert.equal((await links(page)).length, 2);
  assert.equal(await page.isHidden("#pager"), true);
});

test("no page logged an error", () => {
  for (const page of pages) assert.deepEqual(page.errors, []);
});
