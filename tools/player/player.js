// The player, put together: it finds its elements in its root once, builds its parts in the order
// they need each other (the run's store; the picture's renderer, its caption and the history
// plot, which only draw; playback, which moves through the run; the controls, which turn input
// into playback and display) and hands each what it needs. Several players may share a page.
// Scripts read and drive one through its `api`, which the page makes window.meshplay.

// The elements of a player, each the one of that class inside its root.
const PLAYER_PARTS = ["title", "stage", "picture", "overlay", "colourbar", "first", "back", "play",
                      "forward", "last", "follow", "slider", "time", "speed", "loop", "colour",
                      "history", "status"];

function findParts(root) {
  const parts = {};
  for (const name of PLAYER_PARTS) {
    parts[name] = root.querySelector(`.${name}`);
    if (!parts[name]) throw new Error(`the player's ${name} is missing`);
  }
  return parts;
}

// What this browser lacks of what the player needs, said plainly; none when empty.
function missingFeatures(renderer) {
  const missing = [];
  if (typeof DecompressionStream !== "function") {
    missing.push("DecompressionStream, which unpacks the run's data");
  }
  if (!renderer) missing.push("WebGL 2, which draws the picture");
  return missing;
}

function createPlayer(root, meta) {
  const P = meta.profile;
  const parts = findParts(root);
  const store = createStore();
  const state = {
    profile: P,
    served: meta.live,   // the run comes from a server as the solver writes it
    ready: false,        // a step can be shown
    step: 0,
    playing: false,
    following: false,    // served: the newest step is shown as it comes
    connected: false,    // served: the stream from the server is open
    ended: false,        // served: the server said the run has ended
    clock: 0,
    speed: 1,
    loop: false,
    display: { nodes: true, outlines: true, colour: false, scale: P.SCALE_INIT },
  };
  const status = (text) => { parts.status.textContent = text; };
  const summary = () => `${meta.program}: ${plural(store.steps, "time step", "time steps")}, ` +
                        `${plural(store.nodes, "node", "nodes")}.`;

  const renderer = createRenderer(parts.picture, P, (restored) => {
    if (restored) show();
    status(restored ? summary() : "The browser took the picture's WebGL context away (too " +
                                  "many pages drawing, or a GPU reset); it comes back by itself.");
  });
  const caption = createCaption(parts.overlay, parts.colourbar, P);
  const plot = createPlot(parts.history, [{ store, name: "" }]);

  // The step and the display drawn at the next animation frame; once a frame at most.
  const draw = onceAFrame(() => {
    if (!state.ready) return;  // a new served run began in the meantime
    const k = state.step, range = store.range;
    renderer.draw(store, k, state.display, range);
    caption.drawLabel(store.time(k), state.display.scale);
    caption.drawColourBar(range, state.display.colour);
    plot.draw(store.time(k));
    parts.slider.max = String(store.steps - 1);
    parts.slider.value = String(k);
    parts.time.textContent = `t = ${store.time(k)} s`;
    parts.play.textContent = state.playing ? "II" : "\u25B6";
    parts.follow.classList.toggle("on", state.following);
  });
  const show = () => state.ready && draw();

  const playback = createPlayback(state, store, show);

  // The node drawn nearest to picture pixel (px, py), within `radius` pixels; -1 if none.
  const nodeAt = (px, py, radius) =>
    nodeNear(P, store, state.step, state.display.scale, 1, px, py, radius);
  function choose(node) {
    plot.choose(node);
    show();
  }

  const controls = createControls(root, parts, state, {
    playback, plot, nodeAt, choose, redraw: show, steps: () => store.steps,
  });
  controls.enable(false);

  // Fits the picture to whole device pixels: each of its pixels covers the same number of the
  // screen's, without smoothing, so that lines stay one sharp pixel at any pixel ratio.
  function fit() {
    const ratio = window.devicePixelRatio || 1;
    const room = document.documentElement.clientWidth - 24;
    let m = Math.max(1, Math.round(ratio));
    if (PICTURE_SIZE * m / ratio > room) m = Math.max(1, Math.floor(ratio));
    parts.stage.style.width = parts.stage.style.height = `${PICTURE_SIZE * m / ratio}px`;
  }
  fit();
  window.addEventListener("resize", fit);

  // Says why the run cannot be shown, and turns the controls off.
  function fail(why) {
    state.ready = false;
    playback.pause();
    controls.enable(false);
    status(`This page cannot show the run: ${why}`);
  }

  const api = Object.freeze(Object.defineProperties({}, {
    steps: { get: () => store.steps, enumerable: true },
    step: { get: () => state.step, enumerable: true },
    time: { get: () => (store.steps > 0 ? store.time(state.step) : undefined), enumerable: true },
    playing: { get: () => state.playing, enumerable: true },
    ready: { get: () => state.ready, enumerable: true },
    live: { get: () => state.following, enumerable: true },  // the newest step is followed
    connected: { get: () => state.connected, enumerable: true },
    colourRange: { get: () => store.range, enumerable: true },
    node: { get: () => plot.node, enumerable: true },
    canvas: { value: parts.picture, enumerable: true },
    seek: { value: (k) => state.ready && playback.seek(k) },
    play: { value: () => playback.play() },
    pause: { value: () => playback.pause() },
  }));

  const missing = missingFeatures(renderer);
  const usable = missing.length === 0;
  if (!usable) {
    fail(`this browser lacks ${missing.join(" and ")}. Current Chromium, Firefox and Safari ` +
         "have both.");
  }

  return {
    store,
    state,
    api,
    usable,
    status,
    summary,
    fail,
    // The store holds steps: the run can be shown, from step k on.
    begin(k) {
      state.ready = true;
      controls.enable(true);
      playback.seek(k);
    },
    // The store grew: a followed run shows its newest step, and the plot takes the new ones.
    grew() {
      plot.invalidate();
      playback.grew();
    },
    follow: () => playback.follow(),
    // A new run begins: nothing to show until its first step comes.
    reset() {
      playback.pause();
      store.clear();
      Object.assign(state, { ready: false, step: 0, ended: false });
      controls.enable(false);
      plot.invalidate();
    },
  };
}

// The page's one player, in its root, as window.meshplay.
function pagePlayer(meta) {
  const player = createPlayer(document.querySelector(".meshplay"), meta);
  Object.defineProperty(window, "meshplay", { value: player.api, enumerable: true });
  return player;
}

// The page: its data are in it. It opens at step K of an address ending in #step=K.
async function startPage(meta) {
  const player = pagePlayer(meta);
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
