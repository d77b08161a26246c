// The player: one state, the run's store, the picture (renderer.js), its label and colour bar,
// the history plot (plot.js), playback (playback.js) and the controls (controls.js), and
// window.meshplay, which scripts read and drive through its methods only.

// printf's "%lf": six decimals and every integer digit, whatever the size.
function formatTime(t) {
  if (Number.isNaN(t)) return "nan";
  if (!Number.isFinite(t)) return t > 0 ? "inf" : "-inf";
  const sign = t < 0 || Object.is(t, -0) ? "-" : "";
  const a = Math.abs(t);
  return sign + (a < 1e21 ? a.toFixed(6) : BigInt(a).toString() + ".000000");
}

const plural = (n, one, many) => `${n} ${n === 1 ? one : many}`;

function createPlayer(meta) {
  const P = meta.profile;
  const $ = (id) => document.getElementById(id);
  const SIZE = 300, UNIT = 100;  // the viewer's window in pixels; pixels per drawing unit
  const store = createStore();
  const state = {
    profile: P,
    live: meta.live,     // the run comes from a server as it is written
    ready: false,        // a step can be shown
    step: 0,
    playing: false,
    following: false,    // live: the newest step is shown as it comes
    connected: false,
    ended: false,        // live: the server said the run has ended
    clock: 0,
    speed: 1,
    loop: false,
    display: { nodes: true, outlines: true, colour: false, scale: P.SCALE_INIT },
  };
  const picture = $("picture"), label = $("overlay").getContext("2d");
  let renderer = null, plot = null, playback = null, controls = null;
  let pending = false;

  const status = (text) => { $("status").textContent = text; };

  // The step and the display drawn at the next animation frame; once a frame at most.
  function show() {
    if (pending || !state.ready) return;
    pending = true;
    requestAnimationFrame(() => {
      pending = false;
      if (!state.ready) return;  // a new live run began in the meantime
      const k = state.step, range = store.range;
      renderer.draw(store, k, state.display, range);
      drawLabel(store.time(k));
      drawColourBar(range);
      plot.draw(k);
      $("slider").max = String(store.steps - 1);
      $("slider").value = String(k);
      $("time").textContent = `t = ${store.time(k)} s`;
      $("play").textContent = state.playing ? "II" : "\u25B6";
      $("follow").classList.toggle("on", state.following);
    });
  }

  function pixel(x, y) {  // drawing units to picture pixels, rows downwards
    return [SIZE / 2 + UNIT * x, SIZE / 2 - UNIT * y];
  }

  // The label under the model, in the browser's Helvetica where the viewer's GLUT font starts.
  function drawLabel(t) {
    label.clearRect(0, 0, SIZE, SIZE);
    const [x, y] = pixel(-P.FW / state.display.scale, -P.YLABEL / state.display.scale);
    label.fillStyle = "#000";
    label.font = "18px Helvetica, Arial, sans-serif";
    label.fillText(`Progress :  Virtual:${formatTime(t)}[s]`, x, y);
  }

  // Beside the picture, never over it: the colours from the run's smallest displacement at the
  // bottom to its largest at the top.
  function drawColourBar(range) {
    const bar = $("colourbar");
    bar.hidden = !state.display.colour;
    if (bar.hidden) return;
    const g = bar.getContext("2d");
    const [x0, y0, width, height] = [2, 16, 12, SIZE - 40];
    g.clearRect(0, 0, bar.width, bar.height);
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

  // The node drawn nearest to picture pixel (px, py), within `radius` pixels; -1 if none.
  function nodeAt(px, py, radius) {
    const k = state.step, mesh = store.meshAt(k), s = state.display.scale;
    let [best, distance] = [-1, radius];
    for (let i = 0; i < store.nodes; ++i) {
      const [x, y] = pixel((mesh.positions[2 * i] - P.HW + store.value(k, i, 0)) / s,
                           (mesh.positions[2 * i + 1] - P.HH + store.value(k, i, 1)) / s);
      const d = Math.hypot(x - px, y - py);
      if (d < distance) [best, distance] = [i, d];
    }
    return best;
  }

  // Fits the picture to whole device pixels: each of its pixels covers the same number of the
  // screen's, without smoothing, so that lines stay one sharp pixel at any pixel ratio.
  function fit() {
    const ratio = window.devicePixelRatio || 1;
    const room = document.documentElement.clientWidth - 24;
    let m = Math.max(1, Math.round(ratio));
    if (SIZE * m / ratio > room) m = Math.max(1, Math.floor(ratio));
    $("stage").style.width = $("stage").style.height = `${SIZE * m / ratio}px`;
  }
  fit();
  window.addEventListener("resize", fit);

  const player = {
    store,
    state,
    redraw: show,
    nodeAt,
    choose(node) {
      plot.choose(node, () => state.step);
      show();
    },
    // Says why the run cannot be shown, and turns the controls off.
    fail(why) {
      state.ready = false;
      playback && playback.pause();
      controls && controls.enable(false);
      status(`This page cannot show the run: ${why}`);
    },
    // The store holds steps: the run can be shown, from step k on.
    begin(k) {
      state.ready = true;
      controls.enable(true);
      playback.seek(k);
    },
    grew() {
      plot.invalidate();
      playback.grew();
    },
    // A new run begins: nothing to show until its first step comes.
    reset() {
      playback.pause();
      store.clear();
      Object.assign(state, { ready: false, step: 0, ended: false });
      controls.enable(false);
      plot.invalidate();
    },
    status,
  };

  const api = {};
  Object.defineProperties(api, {
    steps: { get: () => store.steps, enumerable: true },
    step: { get: () => state.step, enumerable: true },
    time: { get: () => (store.steps > 0 ? store.time(state.step) : undefined), enumerable: true },
    playing: { get: () => state.playing, enumerable: true },
    ready: { get: () => state.ready, enumerable: true },
    live: { get: () => state.following, enumerable: true },
    connected: { get: () => state.connected, enumerable: true },
    colourRange: { get: () => store.range, enumerable: true },
    node: { get: () => (plot ? plot.node : -1), enumerable: true },
    canvas: { value: picture, enumerable: true },
    seek: { value: (k) => state.ready && playback.seek(k) },
    play: { value: () => playback && playback.play() },
    pause: { value: () => playback && playback.pause() },
  });
  Object.defineProperty(window, "meshplay", { value: Object.freeze(api), enumerable: true });

  // What this browser lacks, if anything, said plainly; the controls stay off then.
  const missing = [];
  if (typeof DecompressionStream !== "function") {
    missing.push("DecompressionStream, which unpacks the run's data");
  }
  renderer = createRenderer(picture, P, (restored) => {
    if (restored) show();
    status(restored ? player.summary() : "The browser took the picture's WebGL context " +
                      "away (too many pages drawing, or a GPU reset); it comes back by itself.");
  });
  if (!renderer) missing.push("WebGL 2, which draws the picture");
  plot = createPlot($("history"), store, (k) => {
    playback.pause();
    playback.seek(k);
  });
  playback = createPlayback(state, store, show);
  player.playback = playback;
  controls = createControls(state, player);
  controls.enable(false);
  player.summary = () => `${meta.program}: ${plural(store.steps, "time step", "time steps")}, ` +
                         `${plural(store.nodes, "node", "nodes")}.`;
  player.usable = missing.length === 0;
  if (!player.usable) {
    player.fail(`this browser lacks ${missing.join(" and ")}. Current Chromium, Firefox and ` +
                "Safari have both.");
  }
  return player;
}

// The page: its data are in it. It opens at step K of an address ending in #step=K.
async function startPage(meta) {
  const player = createPlayer(meta);
  if (!player.usable) return;
  try {
    const text = document.getElementById("meshplay-data").textContent;
    await readChunks(pageBytes(text), player.store);
    if (player.store.steps === 0) throw new Error("it holds no time step");
    const named = /^#step=(\d+)$/.exec(location.hash);
    player.begin(named ? Number(named[1]) : 0);
    player.status(player.summary());
  } catch (error) {
    player.fail(error.message);
  }
}
