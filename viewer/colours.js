// Player colours: sixteen hues that stay apart on the dark arena; players 17 and up repeat them
// with a pattern (striped cloud, dashed chart line), and every cloud carries its name.
"use strict";
var Nimbus = window.Nimbus || (window.Nimbus = {});

(function () {
  const PALETTE = [
    "#e6194b", "#3cb44b", "#ffe119", "#5b8cff", "#f58231", "#b45cf0", "#42d4f4", "#f032e6",
    "#bfef45", "#fabed4", "#2fb5a5", "#dcbeff", "#c08a4c", "#fffac8", "#ff7f7f", "#aaffc3",
  ];
  Nimbus.PALETTE_SIZE = PALETTE.length;

  // The colour of player i.
  Nimbus.colour = (i) => PALETTE[((i % PALETTE.length) + PALETTE.length) % PALETTE.length];

  // 0 for the first sixteen players (plain), 1, 2, ... for each further round of the palette.
  Nimbus.pattern = (i) => Math.floor(i / PALETTE.length);

  // The chart's line dash for player i: solid, then dashed, then dotted, ...
  Nimbus.lineDash = (i) => [[], [6, 3], [2, 3], [8, 3, 2, 3]][Nimbus.pattern(i) % 4];
})();
