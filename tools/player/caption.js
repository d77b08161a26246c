// What is written around the picture: the viewer's time label under the model, on a canvas laid
// over the picture, and the colour bar beside it when the triangles are coloured by displacement.

// printf's "%lf": six decimals and every integer digit, whatever the size.
function formatTime(t) {
  if (Number.isNaN(t)) return "nan";
  if (!Number.isFinite(t)) return t > 0 ? "inf" : "-inf";
  const sign = t < 0 || Object.is(t, -0) ? "-" : "";
  const a = Math.abs(t);
  return sign + (a < 1e21 ? a.toFixed(6) : BigInt(a).toString() + ".000000");
}

const PICTURE_SIZE = 300, PIXELS_PER_UNIT = 100;  // the viewer's window; pixels a drawing unit

// Drawing units to picture pixels, rows downwards, the origin at the picture's centre.
function pixelOf(x, y) {
  return [PICTURE_SIZE / 2 + PIXELS_PER_UNIT * x, PICTURE_SIZE / 2 - PIXELS_PER_UNIT * y];
}

// The node drawn nearest to pixel (px, py) of a picture `size` times the viewer's, showing step
// k of `store` at view scale `scale`, within `radius` pixels; -1 if none.
function nodeNear(profile, store, k, scale, size, px, py, radius) {
  const mesh = store.meshAt(k);
  let [best, distance] = [-1, radius];
  for (let i = 0; i < store.nodes; ++i) {
    const [x, y] = pixelOf((mesh.positions[2 * i] - profile.HW + store.value(k, i, 0)) / scale,
                           (mesh.positions[2 * i + 1] - profile.HH + store.value(k, i, 1)) / scale);
    const d = Math.hypot(x * size - px, y * size - py);
    if (d < distance) [best, distance] = [i, d];
  }
  return best;
}

function createCaption(overlay, colourBar, profile) {
  const P = profile;
  const label = overlay.getContext("2d");

  // In the browser's Helvetica where the viewer's GLUT font starts; on a picture `size` times the
  // viewer's, `size` times as large.
  function drawLabel(t, scale, size = 1) {
    label.clearRect(0, 0, overlay.width, overlay.height);
    const [x, y] = pixelOf(-P.FW / scale, -P.YLABEL / scale);
    label.fillStyle = "#000";
    label.font = `${18 * size}px Helvetica, Arial, sans-serif`;
    label.fillText(`Progress :  Virtual:${formatTime(t)}[s]`, x * size, y * size);
  }

  // Beside the picture, never over it: the colours from the smallest displacement of `range` at
  // the bottom to its largest at the top.
  function drawColourBar(range, shown) {
    colourBar.hidden = !shown;
    if (!shown) return;
    const g = colourBar.getContext("2d");
    const [x0, y0, width, height] = [2, 16, 12, PICTURE_SIZE - 40];
    g.clearRect(0, 0, colourBar.width, colourBar.height);
    for (let i = 0; i < height; ++i) {
      const [r, gr, b] = viridis(1 - i / (height - 1));
      g.fillStyle = `rgb(${r},${gr},${b})`;
      g.fillRect(x0, y0 + i, width, 1);
    }
    g.strokeStyle = "#000";
    g.strokeRect(x0 - 0.5, y0 - 0.5, width + 1, height + 1);
    g.fillStyle = "#222";
    g.font = "11px sans-serif";
    g.fillText(range[1].toPrecision(3), x0 + width + 4, y0 + 8);
    g.fillText(range[0].toPrecision(3), x0 + width + 4, y0 + height);
    g.fillText("|d|", x0, 11);
  }

  return { drawLabel, drawColourBar };
}
