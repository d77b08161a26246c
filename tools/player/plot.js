// A node's history: its dx and dy against time over every step so far, with named axes and a
// marker at the time shown, for one run or for several in one plot (a comparison's: one colour a
// run, dx drawn whole and dy dashed, a legend naming them); it tells which time, or step, is drawn
// at a point of it, for a click to go there. The curves are drawn once for a node (and again as
// the runs grow) into a picture of their own; a frame copies it and draws the marker.

const RUN_COLOURS = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b"];
const DX_COLOUR = "#d62728", DY_COLOUR = "#1f77b4";  // of the one run of a player

// `runs`: [{store, name}]; with one, its dx red and dy blue as the player has them.
function createPlot(canvas, runs) {
  const area = { left: 60, right: 12, top: 20, bottom: 34 };  // the plotting area's margins
  const curves = document.createElement("canvas");
  curves.width = canvas.width;
  curves.height = canvas.height;
  const w = canvas.width, h = canvas.height;
  const width = w - area.left - area.right, height = h - area.top - area.bottom;
  const several = runs.length > 1;
  let node = -1, drawnSteps = -1;
  let t0 = 0, t1 = 1;

  const stepsHeld = () => runs.reduce((n, run) => n + run.store.steps, 0);

  // The runs' time range; a range of one time (or none) gets a second around it.
  function timeRange() {
    let [lo, hi] = [Infinity, -Infinity];
    for (const { store } of runs) {
      for (let k = 0; k < store.steps; ++k) {
        const t = store.time(k);
        if (Number.isFinite(t)) [lo, hi] = [Math.min(lo, t), Math.max(hi, t)];
      }
    }
    if (!(lo <= hi)) [lo, hi] = [0, 0];
    return lo < hi ? [lo, hi] : [lo - 1, lo + 1];
  }

  function valueRange() {
    let [lo, hi] = [Infinity, -Infinity];
    for (const { store } of runs) {
      if (node >= store.nodes) continue;
      for (let k = 0; k < store.steps; ++k) {
        for (let c = 0; c < 2; ++c) {
          const v = store.value(k, node, c);
          if (Number.isFinite(v)) [lo, hi] = [Math.min(lo, v), Math.max(hi, v)];
        }
      }
    }
    if (!(lo <= hi)) [lo, hi] = [0, 0];
    return lo === hi ? [lo - 1, hi + 1] : [lo, hi];
  }

  // Three digits, short enough for the margin whatever the size: "0.0123", "-6.25e-4".
  const number = (v) => (v !== 0 && (Math.abs(v) < 0.01 || Math.abs(v) >= 1e4)
                         ? v.toExponential(2) : v.toPrecision(3));

  // Inside the frame, through pixels' centres: a line along the first or the last column, or row,
  // is whole.
  const x = (t) => area.left + 0.5 + (t - t0) / (t1 - t0) * (width - 1);
  const column = (t) => Math.floor(x(t));

  function drawCurve(g, store, c, y) {
    g.beginPath();
    for (let k = 0; k < store.steps; ++k) {
      const [px, py] = [x(store.time(k)), y(store.value(k, node, c))];
      if (k === 0) g.moveTo(px, py); else g.lineTo(px, py);
    }
    g.stroke();
  }

  function drawLegend(g) {
    g.font = "11px sans-serif";
    g.textBaseline = "alphabetic";
    if (!several) {
      g.fillStyle = DX_COLOUR;
      g.fillText("dx", area.left + 4, area.top - 6);
      g.fillStyle = DY_COLOUR;
      g.fillText("dy", area.left + 24, area.top - 6);
      g.fillStyle = "#222";
      g.fillText(`node ${node}: displacement, in the model's length unit`, area.left + 48,
                 area.top - 6);
      return;
    }
    let at = area.left + 4;
    g.fillStyle = "#222";
    const what = `node ${node}, dx whole, dy dashed:`;
    g.fillText(what, at, area.top - 6);
    at += g.measureText(what).width + 8;
    runs.forEach(({ name }, r) => {
      g.fillStyle = RUN_COLOURS[r % RUN_COLOURS.length];
      g.fillText(name, at, area.top - 6);
      at += g.measureText(name).width + 10;
    });
  }

  function drawCurves() {
    [t0, t1] = timeRange();
    const [lo, hi] = valueRange();
    const y = (v) => area.top + 0.5 + Math.round((hi - v) / (hi - lo) * (height - 1));
    const g = curves.getContext("2d");
    g.clearRect(0, 0, w, h);
    g.fillStyle = "#fff";
    g.fillRect(0, 0, w, h);
    g.strokeStyle = "#999";
    g.strokeRect(area.left - 0.5, area.top - 0.5, width + 1, height + 1);
    runs.forEach(({ store }, r) => {
      if (node >= store.nodes) return;
      for (let c = 0; c < 2; ++c) {
        g.strokeStyle = several ? RUN_COLOURS[r % RUN_COLOURS.length] : [DX_COLOUR, DY_COLOUR][c];
        g.setLineDash(several && c === 1 ? [4, 3] : []);
        drawCurve(g, store, c, y);
      }
    });
    g.setLineDash([]);
    drawLegend(g);
    g.fillStyle = "#222";
    g.textAlign = "right";
    g.fillText(number(hi), area.left - 4, area.top + 8);
    g.fillText(number(lo), area.left - 4, area.top + height);
    g.fillText(`${t1} s`, area.left + width, area.top + height + 13);
    g.textAlign = "left";
    g.fillText(`${t0} s`, area.left, area.top + height + 13);
    g.textAlign = "center";
    g.fillText("time (s)", area.left + width / 2, h - 4);
    g.textAlign = "left";
    drawnSteps = stepsHeld();
  }

  // Draws the plot of the node chosen, with its marker at time t.
  function draw(t) {
    if (node < 0) return;
    if (drawnSteps !== stepsHeld()) drawCurves();
    const g = canvas.getContext("2d");
    g.drawImage(curves, 0, 0);
    g.fillStyle = "#000";
    g.fillRect(column(t), area.top, 1, height);
  }

  // The plot's pixel column of a click at `clientX`, the page's pixels: less the border, times
  // the plot's own scale.
  function clickColumn(clientX) {
    const rect = canvas.getBoundingClientRect();
    return Math.floor((clientX - rect.left - canvas.clientLeft) * w / canvas.clientWidth);
  }
  // The time drawn at pixel column `cx`.
  const timeAt = (cx) => t0 + (cx + 0.5 - area.left) / width * (t1 - t0);

  return {
    get node() { return node; },
    // Plots `chosen`'s history (-1: none).
    choose(chosen) {
      node = chosen;
      drawnSteps = -1;
      canvas.hidden = node < 0;
    },
    draw,
    // The step of the one run drawn where a click at `clientX` lands, step `shown` being marked:
    // the shown one if its marker is there, else the one whose time is nearest; -1 while nothing
    // is plotted.
    stepAtClick(clientX, shown) {
      const { store } = runs[0];
      if (node < 0 || store.steps === 0) return -1;
      const cx = clickColumn(clientX);
      if (column(store.time(shown)) === cx) return shown;
      const t = timeAt(cx);
      let best = 0;
      for (let k = 1; k < store.steps; ++k) {
        if (Math.abs(store.time(k) - t) < Math.abs(store.time(best) - t)) best = k;
      }
      return best;
    },
    // The time drawn where a click at `clientX` lands; NaN while nothing is plotted.
    timeAtClick(clientX) {
      return node < 0 || stepsHeld() === 0 ? NaN : timeAt(clickColumn(clientX));
    },
    // The runs grew or began again: the curves are drawn anew at the next frame.
    invalidate() { drawnSteps = -1; },
  };
}
