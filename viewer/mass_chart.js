// The mass-over-time chart: one line per player (drawn once per size into a cache, so playback
// only copies it and draws the cursor), a cross where a player went out, and a cursor at the
// current tick. pointAt tells which tick a click at a given x means.
"use strict";
var Nimbus = window.Nimbus || (window.Nimbus = {});

(function () {
  const PAD = { left: 40, right: 8, top: 6, bottom: 16 };

  Nimbus.MassChart = class {
    constructor(canvas) {
      this.canvas = canvas;
      this.cache = document.createElement("canvas");
      this.game = null;
      this.cacheKey = "";
    }

    setGame(game) {
      this.game = game;
      this.cacheKey = "";
    }

    // The game grew (or its results came): drawn anew at the next draw.
    invalidate() {
      this.cacheKey = "";
    }

    // Plot area in CSS pixels.
    area() {
      const w = this.canvas.clientWidth;
      const h = this.canvas.clientHeight;
      return { x0: PAD.left, y0: PAD.top, x1: Math.max(PAD.left + 1, w - PAD.right),
               y1: Math.max(PAD.top + 1, h - PAD.bottom), w, h };
    }

    // The ticks the x axis spans: the game's, or while it loads the ticks it was set up for.
    span() {
      const g = this.game;
      return Math.max(1, g.loading ? Math.max(g.lastTick, g.plannedTicks) : g.lastTick);
    }

    xOf(tick, a) {
      return a.x0 + (tick / this.span()) * (a.x1 - a.x0);
    }

    yOf(mass, a) {
      return a.y1 - (mass / this.top()) * (a.y1 - a.y0);
    }

    top() {
      return this.game.maxMass * 1.05;
    }

    // The tick under CSS x coordinate x, clamped to the game.
    tickAt(x) {
      const a = this.area();
      const f = (x - a.x0) / (a.x1 - a.x0);
      return Math.min(this.game.lastTick, Math.max(0, Math.round(f * this.span())));
    }

    // Where player p's line is at tick t (CSS pixels), and its mass there; null once out.
    pointAt(p, t) {
      const a = this.area();
      if (t > this.game.lastTick) return null;
      const m = this.game.massAt(p, t);
      if (Number.isNaN(m)) return null;
      return { x: this.xOf(t, a), y: this.yOf(m, a), mass: m };
    }

    renderCache(dpr) {
      const a = this.area();
      const g = this.game;
      const c = this.cache;
      c.width = Math.round(a.w * dpr);
      c.height = Math.round(a.h * dpr);
      const ctx = c.getContext("2d");
      ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
      ctx.fillStyle = "#0e1420";
      ctx.fillRect(0, 0, a.w, a.h);
      ctx.strokeStyle = "#3a4458";
      ctx.lineWidth = 1;
      ctx.strokeRect(a.x0 + 0.5, a.y0 + 0.5, a.x1 - a.x0, a.y1 - a.y0);
      ctx.fillStyle = "#99a";
      ctx.font = "11px sans-serif";
      ctx.textAlign = "right";
      ctx.textBaseline = "middle";
      const top = this.top();
      for (const m of [0, Math.round(top / 2), Math.floor(top)]) {
        ctx.fillText(String(m), a.x0 - 4, this.yOf(m, a));
      }
      ctx.textAlign = "center";
      ctx.textBaseline = "top";
      ctx.fillText("mass over ticks", (a.x0 + a.x1) / 2, a.y1 + 2);
      ctx.textAlign = "left";
      ctx.fillText("0", a.x0, a.y1 + 2);
      ctx.textAlign = "right";
      ctx.fillText(String(this.span()), a.x1, a.y1 + 2);

      // About two samples per pixel, and always the last tick.
      const step = Math.max(1, Math.floor(this.span() / (2 * (a.x1 - a.x0))));
      ctx.lineWidth = 1.5;
      for (let p = 0; p < g.players.length; ++p) {
        ctx.strokeStyle = Nimbus.colour(p);
        ctx.setLineDash(Nimbus.lineDash(p));
        ctx.beginPath();
        let drawing = false;
        let last = null;
        for (let t = 0; t <= g.lastTick; t = t === g.lastTick ? t + 1 : Math.min(g.lastTick, t + step)) {
          const m = g.massAt(p, t);
          if (Number.isNaN(m)) { drawing = false; continue; }
          const x = this.xOf(t, a);
          const y = this.yOf(m, a);
          if (drawing) ctx.lineTo(x, y); else ctx.moveTo(x, y);
          drawing = true;
          last = { x, y };
        }
        ctx.stroke();
        ctx.setLineDash([]);
        if (g.outAt[p] !== null && last) {
          ctx.fillStyle = Nimbus.colour(p);
          ctx.font = "bold 12px sans-serif";
          ctx.textAlign = "center";
          ctx.textBaseline = "middle";
          ctx.fillText("×", this.xOf(g.outAt[p], a), last.y);
        }
      }
    }

    draw(tick) {
      const canvas = this.canvas;
      const ctx = canvas.getContext("2d");
      const dpr = window.devicePixelRatio || 1;
      const a = this.area();
      if (canvas.width !== Math.round(a.w * dpr) || canvas.height !== Math.round(a.h * dpr)) {
        canvas.width = Math.round(a.w * dpr);
        canvas.height = Math.round(a.h * dpr);
      }
      ctx.setTransform(1, 0, 0, 1, 0, 0);
      if (!this.game || a.w < 1 || a.h < 1) {
        ctx.fillStyle = "#0e1420";
        ctx.fillRect(0, 0, canvas.width, canvas.height);
        return;
      }
      const key = `${a.w}x${a.h}@${dpr}`;
      if (key !== this.cacheKey) {
        this.renderCache(dpr);
        this.cacheKey = key;
      }
      ctx.drawImage(this.cache, 0, 0);
      ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
      const x = this.xOf(tick, a);
      ctx.strokeStyle = "#fff";
      ctx.lineWidth = 1;
      ctx.beginPath();
      ctx.moveTo(x, a.y0);
      ctx.lineTo(x, a.y1);
      ctx.stroke();
      for (let p = 0; p < this.game.players.length; ++p) {
        const pt = this.pointAt(p, tick);
        if (!pt) continue;
        ctx.fillStyle = Nimbus.colour(p);
        ctx.beginPath();
        ctx.arc(pt.x, pt.y, 3, 0, 2 * Math.PI);
        ctx.fill();
      }
    }
  };
})();
