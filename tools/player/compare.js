// A comparison: two to six runs side by side, a picture each, in one model time. At time t each
// picture shows its run's last step whose time is at most t (its first before that), so that runs
// written at different time steps, or of different lengths, stay in step; a run that ended earlier
// holds its last step and says so. One set of controls and keys acts on every picture; colour by
// displacement takes one range over all the runs; a click on a node plots its history in every
// run. The address names the runs and, after #t=, the time shown. Served runs keep growing.

// The step of `store` shown at model time t: the last whose time is at most t, the first before
// any; -1 for a store that holds none. Times are taken to grow, as a solver writes them.
function stepAtTime(store, t) {
  if (store.steps === 0) return -1;
  if (!(store.time(0) <= t)) return 0;
  let [lo, hi] = [0, store.steps - 1];
  while (lo < hi) {
    const mid = (lo + hi + 1) >> 1;
    if (store.time(mid) <= t) lo = mid; else hi = mid - 1;
  }
  return lo;
}

const COMPARISON_PARTS = ["title", "runs", "colourbar", "first", "back", "play", "forward", "last",
                          "slider", "time", "speed", "loop", "colour", "size", "history",
                          "status"];

function createComparison(root, meta) {
  const P = meta.profile;
  const parts = {};
  for (const name of COMPARISON_PARTS) parts[name] = root.querySelector(`.${name}`);
  const state = {
    ready: false, t: 0, playing: false, following: false, speed: 1, loop: false, clock: 0,
    display: { nodes: true, outlines: true, colour: false, scale: P.SCALE_INIT, size: 1 },
  };

  // Each run: its store, and its figure: a heading (its name, as text), the picture, a note.
  const runs = meta.runs.map((run) => {
    const figure = parts.runs.appendChild(document.createElement("figure"));
    figure.className = "run";
    const heading = figure.appendChild(document.createElement("figcaption"));
    heading.textContent = run.name;
    const stage = figure.appendChild(document.createElement("div"));
    stage.className = "stage";
    const picture = stage.appendChild(document.createElement("canvas"));
    picture.className = "picture";
    const overlay = stage.appendChild(document.createElement("canvas"));
    overlay.className = "overlay";
    const note = figure.appendChild(document.createElement("p"));
    note.className = "note";
    return { name: run.name, stream: run.stream, store: createStore(), stage, picture, overlay,
             note, shown: -1, served: Boolean(meta.live), ended: !meta.live, connected: false };
  });
  for (const run of runs) {
    run.renderer = createRenderer(run.picture, P, () => show());
    run.caption = createCaption(run.overlay, parts.colourbar, P);
  }
  const plot = createPlot(parts.history, runs);
  const status = (text) => { parts.status.textContent = text; };

  // The model times the runs span: from the earliest first step to the latest last one.
  function span() {
    let [t0, t1] = [Infinity, -Infinity];
    for (const { store } of runs) {
      if (store.steps === 0) continue;
      t0 = Math.min(t0, store.time(0));
      t1 = Math.max(t1, store.time(store.steps - 1));
    }
    return t0 <= t1 ? [t0, t1] : [0, 0];
  }
  // One range of displacements over every run.
  function colourRange() {
    let [lo, hi] = [Infinity, -Infinity];
    for (const { store } of runs) {
      if (store.steps === 0) continue;
      lo = Math.min(lo, store.range[0]);
      hi = Math.max(hi, store.range[1]);
    }
    return lo <= hi ? [lo, hi] : [0, 0];
  }

  // Each picture at `display.size` times the viewer's window, drawn at that size: sharp pixels
  // as the player has them, at any pixel ratio.
  function fit() {
    const ratio = window.devicePixelRatio || 1, size = state.display.size;
    const pixels = PICTURE_SIZE * size;
    for (const run of runs) {
      for (const canvas of [run.picture, run.overlay]) canvas.width = canvas.height = pixels;
      run.stage.style.width = run.stage.style.height = `${pixels / ratio}px`;
      run.note.style.maxWidth = `${pixels / ratio}px`;
    }
    show();
  }

  const draw = onceAFrame(() => {
    const range = colourRange(), [t0, t1] = span();
    for (const run of runs) {
      const { store } = run;
      run.shown = stepAtTime(store, state.t);
      if (run.shown < 0) {
        run.note.textContent = run.connected || !run.served ? "No time step yet." : "";
        continue;
      }
      run.renderer.draw(store, run.shown, state.display, range);
      const t = store.time(run.shown);
      run.caption.drawLabel(t, state.display.scale, state.display.size);
      const last = store.time(store.steps - 1);
      run.note.textContent =
        state.t < store.time(0) ? `Begins at t = ${store.time(0)} s: its first step.`
        : state.t > last && run.ended ? `Ended at t = ${last} s: its last step.`
        : state.t > last ? `Written up to t = ${last} s so far.`
        : `Step ${run.shown}, t = ${t} s.`;
    }
    runs[0].caption.drawColourBar(range, state.display.colour);
    plot.draw(state.t);
    parts.slider.min = String(t0);
    parts.slider.max = String(t1);
    parts.slider.value = String(state.t);
    parts.time.textContent = `t = ${state.t} s`;
    parts.play.textContent = state.playing ? "II" : "\u25B6";
  });
  const show = () => state.ready && draw();

  // The time shown, and the address that names it.
  function setTime(t) {
    const [t0, t1] = span();
    state.t = Math.max(t0, Math.min(t1, Number(t)));
    if (!Number.isFinite(state.t)) state.t = t0;
    history.replaceState(null, "", `#t=${state.t}`);
    show();
  }
  function seekTime(t) {
    pause();
    setTime(t);
  }

  const anyGrowing = () => runs.some((run) => run.served && !run.ended);
  let lastFrame = 0;
  function tick(now) {
    if (!state.playing) return;
    const [t0, t1] = span();
    const t = state.t + (now - lastFrame) / 1000 * state.speed;
    lastFrame = now;
    if (t < t1) {
      state.t = t;
      show();
      requestAnimationFrame(tick);
      return;
    }
    if (anyGrowing()) {  // the newest time, as the runs grow
      state.playing = false;
      state.following = true;
      setTime(t1);
    } else if (state.loop) {
      state.t = t0;
      show();
      requestAnimationFrame(tick);
    } else {
      pause();
      setTime(t1);
    }
  }
  function play() {
    if (state.playing || !state.ready) return;
    const [t0, t1] = span();
    if (state.t >= t1 && !anyGrowing()) state.t = t0;
    state.playing = true;
    state.following = false;
    lastFrame = performance.now();
    requestAnimationFrame(tick);
    show();
  }
  function pause() {
    state.playing = false;
    state.following = false;
    show();
  }
  // The next time any run has a step at, after the time shown, or the last before it.
  function stepBy(d) {
    let best = d > 0 ? Infinity : -Infinity;
    for (const { store } of runs) {
      const k = stepAtTime(store, state.t);
      if (k < 0) continue;
      const before = store.time(k) < state.t, after = store.time(k) > state.t;
      const next = d > 0 ? (after ? k : k + 1) : (before ? k : k - 1);
      if (next >= 0 && next < store.steps) {
        best = d > 0 ? Math.min(best, store.time(next)) : Math.max(best, store.time(next));
      }
    }
    if (Number.isFinite(best)) seekTime(best);
  }

  // The node drawn nearest to picture pixel (px, py) of `run`, within `radius` pixels; -1 if none.
  function nodeAt(run, px, py, radius) {
    if (run.shown < 0) return -1;
    const { scale, size } = state.display;
    return nodeNear(P, run.store, run.shown, scale, size, px, py, radius);
  }

  // Input: the buttons, the slider, the options, the keys, clicks on a picture and on the plot.
  const elements = ["first", "back", "play", "forward", "last", "slider", "speed", "loop",
                    "colour", "size"].map((name) => parts[name]);
  for (const element of elements) {  // a control used with the pointer lets the focus go
    const done = element.tagName === "SELECT" || element.type === "range" ? "change" : "click";
    element.addEventListener(done, () => element.blur());
  }
  const first = () => seekTime(span()[0]);
  const last = () => seekTime(span()[1]);
  const toggle = () => (state.playing || state.following ? pause() : play());
  parts.first.addEventListener("click", first);
  parts.back.addEventListener("click", () => stepBy(-1));
  parts.play.addEventListener("click", toggle);
  parts.forward.addEventListener("click", () => stepBy(1));
  parts.last.addEventListener("click", last);
  parts.slider.addEventListener("input", (event) => seekTime(event.target.value));
  parts.speed.addEventListener("change", (event) => { state.speed = Number(event.target.value); });
  parts.loop.addEventListener("change", (event) => { state.loop = event.target.checked; });
  parts.colour.addEventListener("change", (event) => {
    state.display.colour = event.target.checked;
    show();
  });
  parts.size.addEventListener("change", (event) => {
    state.display.size = Number(event.target.value);
    fit();
  });
  const zoom = (d) => {  // as the viewer: never below half a step
    const scale = state.display.scale + d;
    if (d > 0 || scale >= P.SCALE_STEP / 2) state.display.scale = scale;
    show();
  };
  const actions = {
    n: () => { state.display.nodes = !state.display.nodes; show(); },
    e: () => { state.display.outlines = !state.display.outlines; show(); },
    r: first, Home: first, End: last, s: toggle, " ": toggle,
    ArrowUp: () => zoom(-P.SCALE_STEP),
    ArrowDown: () => zoom(P.SCALE_STEP),
    ArrowLeft: () => stepBy(-1),
    ArrowRight: () => stepBy(1),
  };
  document.addEventListener("keydown", (event) => {
    if (!state.ready || event.ctrlKey || event.metaKey || event.altKey) return;
    const focused = event.target, kind = focused.tagName === "BUTTON" ? "button" : focused.type;
    if ((CONTROL_KEYS[kind] || []).includes(event.key)) return;
    const action = actions[event.key];
    if (!action) return;
    event.preventDefault();
    action();
  });
  for (const run of runs) {
    run.picture.addEventListener("click", (event) => {
      const rect = run.picture.getBoundingClientRect();
      const scale = run.picture.width / run.picture.clientWidth;
      const node = nodeAt(run, (event.clientX - rect.left - run.picture.clientLeft) * scale,
                          (event.clientY - rect.top - run.picture.clientTop) * scale,
                          8 * state.display.size);
      if (node < 0) return;
      plot.choose(node);
      show();
    });
  }
  parts.history.addEventListener("click", (event) => {
    const t = plot.timeAtClick(event.clientX);
    if (!Number.isNaN(t)) seekTime(t);
  });
  const enable = (on) => {
    for (const element of elements) element.disabled = !on;
  };
  enable(false);

  const api = Object.freeze(Object.defineProperties({}, {
    ready: { get: () => state.ready, enumerable: true },
    runs: { value: Object.freeze(runs.map((run) => run.name)), enumerable: true },
    time: { get: () => state.t, enumerable: true },
    playing: { get: () => state.playing, enumerable: true },
    shown: {
      get: () => Object.freeze(runs.map((run) => stepAtTime(run.store, state.t))),
      enumerable: true,
    },
    steps: { get: () => Object.freeze(runs.map((run) => run.store.steps)), enumerable: true },
    canvases: { value: Object.freeze(runs.map((run) => run.picture)), enumerable: true },
    colourRange: { get: () => colourRange(), enumerable: true },
    node: { get: () => plot.node, enumerable: true },
    seekTime: { value: (t) => state.ready && seekTime(t) },
    play: { value: () => play() },
    pause: { value: () => pause() },
  }));

  return {
    runs, state, api, status,
    // Every run holds a step, or the page's own data are read: the comparison can be shown, at
    // the time the address names, or at the start.
    begin() {
      if (state.ready) return;
      state.ready = true;
      enable(true);
      const named = /^#t=([-+0-9.eE]+)$/.exec(location.hash);
      fit();
      setTime(named ? Number(named[1]) : span()[0]);
    },
    grew() {
      plot.invalidate();
      if (state.following) setTime(span()[1]);
      else show();
    },
    show,
    usable: runs.every((run) => run.renderer) && typeof DecompressionStream === "function",
  };
}

// The page's one comparison, as window.meshplay; null, and said, where the browser cannot show it.
function pageComparison(meta) {
  const comparison = createComparison(document.querySelector(".comparison"), meta);
  Object.defineProperty(window, "meshplay", { value: comparison.api, enumerable: true });
  if (comparison.usable) return comparison;
  comparison.status("This page cannot show the runs: this browser lacks WebGL 2 or " +
                    "DecompressionStream. Current Chromium, Firefox and Safari have both.");
  return null;
}

// The comparison as one page: the runs' data are in it, in order.
async function startComparison(meta) {
  const comparison = pageComparison(meta);
  if (!comparison) return;
  try {
    const data = document.querySelectorAll("script.meshplay-data");
    for (let r = 0; r < comparison.runs.length; ++r) {
      await readChunks(pageBytes(data[r].textContent), comparison.runs[r].store);
    }
    comparison.begin();
    comparison.status(`${plural(comparison.runs.length, "run", "runs")}: ` +
                      comparison.runs.map((run) => `${run.name}, ${plural(run.store.steps,
                        "time step", "time steps")}`).join("; ") + ".");
  } catch (error) {
    comparison.status(`This page cannot show the runs: ${error.message}`);
  }
}

// The comparison of runs a server follows, each fed from its stream as it grows.
function startLiveComparison(meta) {
  const comparison = pageComparison(meta);
  if (!comparison) return;
  const say = () => {
    comparison.status(comparison.runs.map((run) => `${run.name}: ${
      !run.connected ? "connection lost" : run.ended ? "ended" : "live"}, ${
      plural(run.store.steps, "time step", "time steps")}`).join("; ") + ".");
  };
  for (const run of comparison.runs) {
    feedStore(run.stream, run.store, {
      begun() {
        run.ended = false;
        comparison.grew();
      },
      grew() {
        comparison.begin();  // with the steps of the runs that have some: the others follow
        comparison.grew();
        say();
      },
      ended() {
        run.ended = true;
        comparison.show();
        say();
      },
      heard() {},
      connected(yes) {
        run.connected = yes;
        say();
      },
      retry() {},
    });
  }
}
