// Draws one tick of the arena on a canvas: rainclouds, thunderstorms in their players' colours
// with readable names, wind arrows for a few ticks after the winds act, and a flash where a
// cloud was swallowed. Text keeps its size whatever the canvas's scale.
"use strict";
var Nimbus = window.Nimbus || (window.Nimbus = {});

(function () {
  const WIND_TICKS = 24;   // how long a wind's arrow stays
  const FLASH_TICKS = 30;  // how long a swallow's flash stays
  Nimbus.WIND_TICKS = WIND_TICKS;

  // Sizes the canvas's backing store to its CSS box; returns the world-to-pixel scale.
  function fit(canvas, ctx) {
    const dpr = window.devicePixelRatio || 1;
    const w = canvas.clientWidth;
    const h = canvas.clientHeight;
    if (canvas.width !== Math.round(w * dpr) || canvas.height !== Math.round(h * dpr)) {
      canvas.width = Math.round(w * dpr);
      canvas.height = Math.round(h * dpr);
    }
    ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
    return { w, h, s: w / 1280 };
  }

  function stripes(ctx, x, y, r) {
    ctx.save();
    ctx.beginPath();
    ctx.arc(x, y, r, 0, 2 * Math.PI);
    ctx.clip();
    ctx.strokeStyle = "rgba(14, 20, 32, 0.8)";
    ctx.lineWidth = Math.max(1, r / 5);
    for (let d = -2 * r; d < 2 * r; d += Math.max(3, r / 2)) {
      ctx.beginPath();
      ctx.moveTo(x + d - r, y - r);
      ctx.lineTo(x + d + r, y + r);
      ctx.stroke();
    }
    ctx.restore();
  }

  function arrow(ctx, x0, y0, x1, y1, colour, alpha) {
    const a = Math.atan2(y1 - y0, x1 - x0);
    ctx.globalAlpha = alpha;
    ctx.strokeStyle = colour;
    ctx.fillStyle = colour;
    ctx.lineWidth = 2;
    ctx.beginPath();
    ctx.moveTo(x0, y0);
    ctx.lineTo(x1, y1);
    ctx.stroke();
    ctx.beginPath();
    ctx.moveTo(x1, y1);
    ctx.lineTo(x1 - 8 * Math.cos(a - 0.45), y1 - 8 * Math.sin(a - 0.45));
    ctx.lineTo(x1 - 8 * Math.cos(a + 0.45), y1 - 8 * Math.sin(a + 0.45));
    ctx.closePath();
    ctx.fill();
    ctx.globalAlpha = 1;
  }

  Nimbus.drawArena = function (canvas, game, tick) {
    const ctx = canvas.getContext("2d");
    const { w, h, s } = fit(canvas, ctx);
    ctx.fillStyle = "#0e1420";
    ctx.fillRect(0, 0, w, h);
    if (!game || tick > game.lastTick) return;
    const storms = [];
    const ids = game.idsAt(tick);
    for (let k = 0, i = game.frameStart(tick); k < ids.length; ++k, ++i) {
      const id = ids[k];
      const x = game.xs.at(i) * s;
      const y = game.ys.at(i) * s;
      const r = Math.max(1.5, Math.sqrt(game.massOf(id, tick)) * s);
      ctx.beginPath();
      ctx.arc(x, y, r, 0, 2 * Math.PI);
      if (id < game.players.length) {
        storms.push({ owner: id, x, y, r });
      } else {
        ctx.fillStyle = "rgba(170, 180, 200, 0.45)";
        ctx.fill();
      }
    }
    for (const t of storms) {
      ctx.beginPath();
      ctx.arc(t.x, t.y, t.r, 0, 2 * Math.PI);
      ctx.fillStyle = Nimbus.colour(t.owner);
      ctx.fill();
      if (Nimbus.pattern(t.owner) > 0) stripes(ctx, t.x, t.y, t.r);
      ctx.lineWidth = 1.5;
      ctx.strokeStyle = "#fff";
      ctx.stroke();
    }

    // Winds: an arrow from the blower's centre along the wind, longer for a stronger wind.
    for (let k = 0; k < WIND_TICKS; ++k) {
      for (const [player, wx, wy] of game.windsAt(tick - 1 - k)) {
        const t = storms.find((st) => st.owner === player);
        const strength = Math.hypot(wx, wy);
        if (!t || strength === 0) continue;
        const len = t.r + 10 + Math.min(60, strength * 6);
        arrow(ctx, t.x, t.y, t.x + (wx / strength) * len, t.y + (wy / strength) * len,
              "#ffffff", 1 - k / WIND_TICKS);
      }
    }

    // Swallows: a ring that widens and fades where the swallower is.
    for (const e of game.swallows) {
      const age = tick - e.tick;
      if (age < 0 || age >= FLASH_TICKS) continue;
      const c = game.cloudAt(e.by, tick) || game.cloudAt(e.by, e.tick);
      if (!c) continue;
      const r = Math.max(4, Math.sqrt(c[2]) * s) + 4 + age * 1.2;
      ctx.globalAlpha = 1 - age / FLASH_TICKS;
      ctx.strokeStyle = e.victim < game.players.length ? "#ff4040" : "#fff6a0";
      ctx.lineWidth = 3;
      ctx.beginPath();
      ctx.arc(c[0] * s, c[1] * s, r, 0, 2 * Math.PI);
      ctx.stroke();
      ctx.globalAlpha = 1;
    }

    // Names last, with a dark outline, kept inside the canvas.
    ctx.font = "bold 12px sans-serif";
    ctx.textAlign = "center";
    ctx.textBaseline = "bottom";
    ctx.lineJoin = "round";
    for (const t of storms) {
      const name = game.players[t.owner].name;
      const half = ctx.measureText(name).width / 2;
      const x = Math.min(Math.max(t.x, half + 2), w - half - 2);
      let y = t.y - t.r - 2;
      if (y < 14) y = t.y + t.r + 14;
      ctx.lineWidth = 3;
      ctx.strokeStyle = "#0e1420";
      ctx.strokeText(name, x, y);
      ctx.fillStyle = Nimbus.colour(t.owner);
      ctx.fillText(name, x, y);
    }
  };
})();
