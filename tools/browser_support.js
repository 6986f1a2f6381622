// Support for the viewer's browser tests: a static file server on a loopback ephemeral port,
// Debian's chromium under playwright-core, and a page that records console errors.
"use strict";
const http = require("node:http");
const fs = require("node:fs");
const path = require("node:path");

const TYPES = { ".html": "text/html", ".js": "text/javascript", ".css": "text/css", ".json": "application/json", ".png": "image/png" };

// Serves each mount ("/viewer/" -> directory) read-only on 127.0.0.1, slowly when asked (?slow=MS);
// resolves to {server, base}.
function serve(mounts) {
  const server = http.createServer((req, res) => {
    const url = new URL(req.url, "http://127.0.0.1");
    for (const [prefix, dir] of Object.entries(mounts)) {
      if (!url.pathname.startsWith(prefix)) continue;
      const file = path.join(dir, decodeURIComponent(url.pathname.slice(prefix.length)));
      if (!file.startsWith(dir)) break;
      return fs.readFile(file, (err, data) => {
        if (err) { res.writeHead(404); res.end("not found"); return; }
        res.writeHead(200, { "Content-Type": TYPES[path.extname(file)] || "application/octet-stream",
                             "Content-Length": data.length });
        // ?slow=MS: the first tenth of the file, then the rest MS later (a big file on a slow link).
        const slow = Number(url.searchParams.get("slow")) || 0;
        if (!slow) { res.end(data); return; }
        const cut = Math.floor(data.length / 10);
        res.write(data.subarray(0, cut));
        setTimeout(() => res.end(data.subarray(cut)), slow);
      });
    }
    res.writeHead(404);
    res.end("not found");
  });
  return new Promise((resolve) => server.listen(0, "127.0.0.1", () =>
    resolve({ server, base: `http://127.0.0.1:${server.address().port}` })));
}

// Debian's chromium (never a downloaded browser); NIMBUS_CHROMIUM overrides the path.
async function launch() {
  const modules = path.join(__dirname, "../viewer/node_modules/playwright-core");
  const { chromium } = require(modules);
  return chromium.launch({
    executablePath: process.env.NIMBUS_CHROMIUM || "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"],
  });
}

// A page whose console errors and uncaught exceptions are collected in page.errors.
async function newPage(browser, width, height) {
  const page = await browser.newPage({ viewport: { width, height } });
  page.errors = [];
  page.on("console", (m) => { if (m.type() === "error") page.errors.push(m.text()); });
  page.on("pageerror", (e) => page.errors.push(String(e)));
  return page;
}

module.exports = { serve, launch, newPage };
