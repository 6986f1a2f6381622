// The viewer's speed and memory on large games, in Debian's chromium:
//  - a 10,000-tick game of 10 players and 100 rainclouds played by nimbus-arena: the time from
//    opening the page to the first tick on show and to the whole game loaded, the longest task
//    that held the page meanwhile, the cost of drawing one tick and the frame rate of playback;
//  - a 100,000-tick replay of 44 clouds that all move every tick (made here, the default game's
//    size at its worst): the same times and the page's peak memory: its own (JavaScript heap,
//    array buffers and DOM, sampled every 100 ms) and the renderer process's (VmHWM, which
//    includes what Chromium holds for an empty viewer page, also printed).
// With --old ARENA DIR, the same game from an older arena (format version 1) is shown in that
// older viewer beside it, in the same run.
// Usage: node bench/viewer_bench.js ARENA [--old OLD_ARENA OLD_VIEWER_DIR] [WORK_DIR]
"use strict";
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const zlib = require("node:zlib");
const { execFileSync } = require("node:child_process");
const { serve, launch, newPage } = require("../tools/browser_support.js");

const args = process.argv.slice(2);
const arena = args.shift();
let old = null;
if (args[0] === "--old") {
  old = { arena: args[1], viewer: path.resolve(args[2]) };
  args.splice(0, 3);
}
const work = args[0] || fs.mkdtempSync(path.join(os.tmpdir(), "viewer-bench-"));
fs.mkdirSync(work, { recursive: true });

function play(arenaPath, file) {
  if (fs.existsSync(file)) return;
  const players = [];
  for (let i = 0; i < 10; ++i) players.push(i % 2 ? "builtin:idle" : "builtin:greedy");
  execFileSync(arenaPath, ["--port", "0", "--seed", "3", "--ticks", "10000", "--tick-ms", "1",
    "--rainclouds", "100", "--quiet", "--replay", file, ...players], { stdio: "ignore" });
}

// 100,000 ticks of 4 thunderstorms and 40 rainclouds, every cloud moving every tick, a wind a tick.
function makeLong(file) {
  if (fs.existsSync(file)) return;
  const gzip = zlib.createGzip();
  const out = fs.createWriteStream(file);
  gzip.pipe(out);
  const clouds = 44;
  const write = (o) => gzip.write(JSON.stringify(o) + "\n");
  write({ format: "nimbus-arena-replay", version: 2, settings: { seed: 1, ticks: 100000, rainclouds: 40, players: 4, tick_ms: 16 },
          players: [0, 1, 2, 3].map((i) => ({ index: i, name: `player-${i}`, kind: "builtin" })) });
  for (let t = 0; t <= 100000; ++t) {
    const p = [];
    for (let id = 0; id < clouds; ++id) {
      p.push(id, Math.fround(100 + ((id * 29 + t * 0.37) % 1080) + id / 7), Math.fround(60 + ((id * 13 + t * 0.21) % 600) + id / 9));
    }
    const line = { t, p };
    if (t === 0) line.m = Array.from({ length: clouds }, (_, id) => [id, id < 4 ? 100 : 4 + id]);
    else line.w = [[t % 4, 0.5, -0.25]];
    write(line);
  }
  write({ end_tick: 100000, end_reason: "ticks", refused: [0, 0, 0, 0], f: "0" });
  gzip.end();
  return new Promise((resolve) => out.on("finish", resolve));
}

// The renderers' peak resident memory, in MiB (the largest renderer: the page's).
async function rendererPeak(browser) {
  const cdp = await browser.newBrowserCDPSession();
  const { processInfo } = await cdp.send("SystemInfo.getProcessInfo");
  let peak = 0;
  for (const p of processInfo.filter((q) => q.type === "renderer")) {
    try {
      const m = /VmHWM:\s+(\d+)/.exec(fs.readFileSync(`/proc/${p.id}/status`, "utf8"));
      if (m) peak = Math.max(peak, Number(m[1]) / 1024);
    } catch (e) { /* gone */ }
  }
  return peak;
}

async function measure(base, viewerPath, file, extra) {
  const browser = await launch();
  const page = await newPage(browser, 1280, 800);
  await page.addInitScript(() => {
    window.longestTask = 0;
    new PerformanceObserver((list) => {
      for (const e of list.getEntries()) window.longestTask = Math.max(window.longestTask, e.duration);
    }).observe({ type: "longtask", buffered: true });
  });
  const cdp = await page.context().newCDPSession(page);
  let ownPeak = 0;
  const sampler = setInterval(() => {
    cdp.send("Runtime.getHeapUsage").then((h) => {
      ownPeak = Math.max(ownPeak, (h.usedSize + h.backingStorageSize + h.embedderHeapUsedSize) / 1048576);
    }, () => {});
  }, 100);
  await page.goto(`${base}${viewerPath}/index.html?replay=/games/${file}`);
  await page.waitForFunction(() => window.nimbusViewer && window.nimbusViewer.loadedAt !== null, null, { timeout: 300000 });
  const r = await page.evaluate(() => ({ wholeMs: window.nimbusViewer.loadedAt, longest: window.longestTask,
                                         firstMs: window.nimbusViewer.shownAt || window.nimbusViewer.loadedAt,
                                         ticks: window.nimbusViewer.game.lastTick }));
  if (extra) {
    r.drawMs = await page.evaluate(() => {
      const v = window.nimbusViewer;
      const last = v.game.lastTick;
      const t0 = performance.now();
      for (let i = 0; i < 600; ++i) v.show(Math.floor((i * last) / 600));
      return (performance.now() - t0) / 600;
    });
    r.fps = await page.evaluate(() => new Promise((resolve) => {
      window.nimbusViewer.show(0);
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
  }
  clearInterval(sampler);
  r.ownMiB = ownPeak;
  r.peakMiB = await rendererPeak(browser);
  r.errors = page.errors.length;
  await browser.close();
  return r;
}

function line(title, r, file) {
  const size = (fs.statSync(path.join(work, file)).size / 1e6).toFixed(1);
  let text = `${title}: ${r.ticks} ticks, ${size} MB; first tick shown ${r.firstMs.toFixed(0)} ms, ` +
             `whole ${r.wholeMs.toFixed(0)} ms, longest task ${r.longest.toFixed(0)} ms, page's own memory peak ` +
             `${r.ownMiB.toFixed(0)} MiB, renderer peak ${r.peakMiB.toFixed(0)} MiB`;
  if (r.drawMs !== undefined) text += `, draw ${r.drawMs.toFixed(2)} ms/tick, playback ${r.fps.toFixed(1)} fps`;
  console.log(text + `, page errors ${r.errors}`);
}

(async () => {
  play(arena, path.join(work, "big.replay.jsonl.gz"));
  if (old) play(old.arena, path.join(work, "big-old.replay.json"));
  await makeLong(path.join(work, "long.replay.jsonl.gz"));
  const mounts = { "/viewer/": path.resolve(__dirname, "../viewer") + "/", "/games/": work + "/" };
  if (old) mounts["/old/"] = old.viewer + "/";
  const { server, base } = await serve(mounts);
  {
    const browser = await launch();
    const page = await newPage(browser, 1280, 800);
    await page.goto(`${base}/viewer/index.html`);
    console.log(`an empty viewer page: renderer peak ${(await rendererPeak(browser)).toFixed(0)} MiB`);
    await browser.close();
  }
  if (old) line("old viewer, old file (10,000-tick game)", await measure(base, "/old", "big-old.replay.json", true), "big-old.replay.json");
  line("new viewer, new file (10,000-tick game)", await measure(base, "/viewer", "big.replay.jsonl.gz", true), "big.replay.jsonl.gz");
  line("new viewer, 100,000 ticks of 44 moving clouds", await measure(base, "/viewer", "long.replay.jsonl.gz", false), "long.replay.jsonl.gz");
  server.close();
})();
