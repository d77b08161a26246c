// A node's history: its dx and dy against time over every step of the run so far, with named
// axes, and a marker at the step shown; it tells which step is drawn at a point of it, for a
// click to go there. The curves are drawn once for a node (and again as the run grows) into a
// picture of their own; a frame copies it and draws the marker.

function createPlot(canvas, store) {
  const area = { left: 60, right: 12, top: 20, bottom: 34 };  // the plotting area's margins
  const curves = document.createElement("canvas");
  curves.width = canvas.width;
  curves.height = canvas.height;
  const w = canvas.width, h = canvas.height;
  const width = w - area.left - area.right, height = h - area.top - area.bottom;
  let node = -1, drawnSteps = -1;
  let t0 = 0, t1 = 1;

  // The run's time range; a run of one time (or none) gets a second around it.
  function timeRange() {
    let [lo, hi] = [Infinity, -Infinity];
    for (let k = 0; k < store.steps; ++k) {
      const t = store.time(k);
      if (Number.isFinite(t)) [lo, hi] = [Math.min(lo, t), Math.max(hi, t)];
    }
    if (!(lo <= hi)) [lo, hi] = [0, 0];
    return lo < hi ? [lo, hi] : [lo - 1, lo + 1];
  }

  // Three digits, short enough for the margin whatever the size: "0.0123", "-6.25e-4".
  const number = (v) => (v !== 0 && (Math.abs(v) < 0.01 || Math.abs(v) >= 1e4)
                         ? v.toExponential(2) : v.toPrecision(3));

  // Inside the frame, through pixels' centres: a line along the first or the last column, or row,
  // is whole.
  const x = (t) => area.left + 0.5 + (t - t0) / (t1 - t0) * (width - 1);
  // The marker's pixel column at step k.
  const column = (k) => Math.floor(x(store.time(k)));

  function drawCurves() {
    [t0, t1] = timeRange();
    let [lo, hi] = [Infinity, -Infinity];
    for (let k = 0; k < store.steps; ++k) {
      for (let c = 0; c < 2; ++c) {
        const v = store.value(k, node, c);
        if (Number.isFinite(v)) [lo, hi] = [Math.min(lo, v), Math.max(hi, v)];
      }
    }
    if (!(lo <= hi)) [lo, hi] = [0, 0];
    if (lo === hi) [lo, hi] = [lo - 1, hi + 1];
    const y = (v) => area.top + 0.5 + Math.round((hi - v) / (hi - lo) * (height - 1));
    const g = curves.getContext("2d");
    g.clearRect(0, 0, w, h);
    g.fillStyle = "#fff";
    g.fillRect(0, 0, w, h);
    g.strokeStyle = "#999";
    g.strokeRect(area.left - 0.5, area.top - 0.5, width + 1, height + 1);
    for (const [c, colour] of [[0, "#d62728"], [1, "#1f77b4"]]) {
      g.strokeStyle = colour;
      g.beginPath();
      for (let k = 0; k < store.steps; ++k) {
        const [px, py] = [x(store.time(k)), y(store.value(k, node, c))];
        if (k === 0) g.moveTo(px, py); else g.lineTo(px, py);
      }
      g.stroke();
    }
    g.font = "11px sans-serif";
    g.textBaseline = "alphabetic";
    g.fillStyle = "#d62728";
    g.fillText("dx", area.left + 4, area.top - 6);
    g.fillStyle = "#1f77b4";
    g.fillText("dy", area.left + 24, area.top - 6);
    g.fillStyle = "#222";
    g.fillText(`node ${node}: displacement, in the model's length unit`, area.left + 48,
               area.top - 6);
    g.textAlign = "right";
    g.fillText(number(hi), area.left - 4, area.top + 8);
    g.fillText(number(lo), area.left - 4, area.top + height);
    g.fillText(`${t1} s`, area.left + width, area.top + height + 13);
    g.textAlign = "left";
    g.fillText(`${t0} s`, area.left, area.top + height + 13);
    g.textAlign = "center";
    g.fillText("time (s)", area.left + width / 2, h - 4);
    g.textAlign = "left";
    drawnSteps = store.steps;
  }

  // Draws the plot of the node chosen, with its marker at step k.
  function draw(k) {
    if (node < 0) return;
    if (drawnSteps !== store.steps) drawCurves();
    const g = canvas.getContext("2d");
    g.drawImage(curves, 0, 0);
    g.fillStyle = "#000";
    g.fillRect(column(k), area.top, 1, height);
  }

  // The step drawn at pixel column `cx` of the plot: the one shown if its marker is there, else
  // the one whose time is nearest.
  function stepAt(cx, shown) {
    if (column(shown) === cx) return shown;
    const t = t0 + (cx + 0.5 - area.left) / width * (t1 - t0);
    let best = 0;
    for (let k = 1; k < store.steps; ++k) {
      if (Math.abs(store.time(k) - t) < Math.abs(store.time(best) - t)) best = k;
    }
    return best;
  }

  return {
    get node() { return node; },
    // Plots `chosen`'s history (-1: none).
    choose(chosen) {
      node = chosen;
      drawnSteps = -1;
      canvas.hidden = node < 0;
    },
    draw,
    // The step drawn where a click at `clientX` (the page's pixels) lands, step `shown` being
    // marked; -1 while nothing is plotted.
    stepAtClick(clientX, shown) {
      if (node < 0 || store.steps === 0) return -1;
      // From the page's pixels to the plot's: less the border, times the plot's own scale.
      const rect = canvas.getBoundingClientRect();
      const cx = (clientX - rect.left - canvas.clientLeft) * w / canvas.clientWidth;
      return stepAt(Math.floor(cx), shown);
    },
    // The run grew or began again: the curves are drawn anew at the next frame.
    invalidate() { drawnSteps = -1; },
  };
}
