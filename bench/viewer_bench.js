// The viewer's speed on a large game: a 10,000-tick game of 10 players and 100 rainclouds played
// by nimbus-arena, loaded by viewer/index.html in Debian's chromium. Prints the load time (page
// opened to game shown), the cost of drawing one tick, and the frame rate of real playback.
// Usage: node bench/viewer_bench.js ARENA [WORK_DIR]
"use strict";
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { execFileSync } = require("node:child_process");
const { serve, launch, newPage } = require("../tests/viewer/browser_support.js");

(async () => {
  const arena = process.argv[2];
  const work = process.argv[3] || fs.mkdtempSync(path.join(os.tmpdir(), "viewer-bench-"));
  const replay = path.join(work, "big.replay.json");
  if (!fs.existsSync(replay)) {
    const players = [];
    for (let i = 0; i < 10; ++i) players.push(i % 2 ? "builtin:idle" : "builtin:greedy");
    execFileSync(arena, ["--port", "0", "--seed", "3", "--ticks", "10000", "--tick-ms", "1",
      "--rainclouds", "100", "--quiet", "--replay", replay, ...players], { stdio: "ignore" });
  }
  const game = JSON.parse(fs.readFileSync(replay, "utf8"));
  const { server, base } = await serve({ "/viewer/": path.resolve(__dirname, "../viewer") + "/", "/games/": work + "/" });
  const browser = await launch();
  const page = await newPage(browser, 1280, 800);
  await page.goto(`${base}/viewer/index.html?replay=/games/big.replay.json`);
  await page.waitForFunction(() => window.nimbusViewer && window.nimbusViewer.loadedAt !== null, null, { timeout: 60000 });
  const loadMs = await page.evaluate(() => window.nimbusViewer.loadedAt);
  const drawMs = await page.evaluate(() => {
    const v = window.nimbusViewer;
    const last = v.game.lastTick;
    const t0 = performance.now();
    for (let i = 0; i < 600; ++i) v.show(Math.floor((i * last) / 600));
    return (performance.now() - t0) / 600;
  });
  const fps = await page.evaluate(() => new Promise((resolve) => {
    window.nimbusViewer.show(0);
    document.getElementById("speed").value = "1";
    document.getElementById("play").click();
    let frames = 0;
    const t0 = performance.now();
    const count = () => {
      frames += 1;
      if (performance.now() - t0 < 3000) requestAnimationFrame(count);
      else { document.getElementById("play").click(); resolve(frames / ((performance.now() - t0) / 1000)); }
    };
    requestAnimationFrame(count);
  }));
  const size = fs.statSync(replay).size;
  console.log(`replay: ${game.frames.length - 1} ticks, ${game.players.length} players, ` +
              `${game.frames[0].length} clouds at the start, ${(size / 1e6).toFixed(1)} MB`);
  console.log(`load (open to shown): ${loadMs.toFixed(0)} ms`);
  console.log(`draw one tick (arena, chart, panels): ${drawMs.toFixed(2)} ms`);
  console.log(`playback: ${fps.toFixed(1)} frames per second`);
  console.log(`page errors: ${page.errors.length}`);
  await browser.close();
  server.close();
})();
