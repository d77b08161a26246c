// The controls and the keys, and clicks on the picture and on the plot. Keys never move the replay
// on by themselves: toggles and zoom redraw the step shown. A key acts on the page unless the
// control that has the focus needs it (space ticks a checkbox, the arrows move the slider); a
// control used with the pointer gives the focus back at once, so that it never keeps the keys from
// the page. Where a page holds several players, the keys go to the one last used.

// The keys each kind of control needs while it has the focus.
const CONTROL_KEYS = {
  checkbox: [" "],
  button: [" ", "Enter"],
  range: ["ArrowLeft", "ArrowRight", "ArrowUp", "ArrowDown", "Home", "End", "PageUp", "PageDown"],
  "select-one": ["ArrowUp", "ArrowDown", "Enter"],
};

let keyedControls = null;  // the controls the keys go to: the first made, then the last used

// `parts`: the player's elements; `player`: what the controls drive (playback, plot, nodeAt,
// choose, redraw, steps).
function createControls(root, parts, state, player) {
  const { playback, plot } = player;
  const elements = ["first", "back", "play", "forward", "last", "follow", "slider", "speed",
                    "loop", "colour"].map((name) => parts[name]);
  const me = {};
  keyedControls = keyedControls || me;
  for (const kind of ["pointerdown", "focusin"]) {
    root.addEventListener(kind, () => { keyedControls = me; });
  }

  // A control used with the pointer lets the focus go once it has done its work: a button or a
  // checkbox when clicked, the speed list when an entry is chosen, the slider when let go.
  for (const element of elements) {
    let pointed = false;
    element.addEventListener("pointerdown", () => { pointed = true; });
    const done = element.tagName === "SELECT" || element.type === "range" ? "change" : "click";
    element.addEventListener(done, () => {
      if (pointed) element.blur();
      pointed = false;
    });
  }

  const first = () => { playback.pause(); playback.seek(0); };
  const last = () => {
    if (state.served) return playback.follow();
    playback.pause();
    playback.seek(player.steps() - 1);
  };
  parts.first.addEventListener("click", first);
  parts.back.addEventListener("click", () => playback.stepBy(-1));
  parts.play.addEventListener("click", () => playback.toggle());
  parts.forward.addEventListener("click", () => playback.stepBy(1));
  parts.last.addEventListener("click", last);
  parts.follow.addEventListener("click", () => playback.follow());
  parts.slider.addEventListener("input", (event) => {
    playback.pause();
    playback.seek(event.target.value);
  });
  parts.speed.addEventListener("change", (event) => { state.speed = Number(event.target.value); });
  parts.loop.addEventListener("change", (event) => { state.loop = event.target.checked; });
  parts.colour.addEventListener("change", (event) => {
    state.display.colour = event.target.checked;
    player.redraw();
  });

  const zoom = (d) => {  // as the viewer: never below half a step, where the picture would vanish
    const scale = state.display.scale + d;
    if (d > 0 || scale >= state.profile.SCALE_STEP / 2) state.display.scale = scale;
    player.redraw();
  };
  const toggle = (name) => {
    state.display[name] = !state.display[name];
    player.redraw();
  };
  const actions = {
    n: () => toggle("nodes"),
    e: () => toggle("outlines"),
    r: first,
    s: () => playback.toggle(),
    " ": () => playback.toggle(),
    ArrowUp: () => zoom(-state.profile.SCALE_STEP),
    ArrowDown: () => zoom(state.profile.SCALE_STEP),
    ArrowLeft: () => playback.stepBy(-1),
    ArrowRight: () => playback.stepBy(1),
    Home: first,
    End: last,
  };
  document.addEventListener("keydown", (event) => {
    if (keyedControls !== me || !state.ready || event.ctrlKey || event.metaKey || event.altKey) {
      return;
    }
    const focused = event.target;
    const kind = focused.tagName === "BUTTON" ? "button" : focused.type;
    if ((CONTROL_KEYS[kind] || []).includes(event.key)) return;
    const action = actions[event.key];
    if (!action) return;
    event.preventDefault();
    action();
  });

  // A click near a node (within 8 pixels) plots its history.
  parts.picture.addEventListener("click", (event) => {
    if (!state.ready) return;
    const picture = event.currentTarget;
    const rect = picture.getBoundingClientRect();
    const scale = picture.width / picture.clientWidth;
    const px = (event.clientX - rect.left - picture.clientLeft) * scale;
    const py = (event.clientY - rect.top - picture.clientTop) * scale;
    const node = player.nodeAt(px, py, 8);
    if (node >= 0) player.choose(node);
  });
  // A click on the plot goes to the step drawn there.
  parts.history.addEventListener("click", (event) => {
    const k = plot.stepAtClick(event.clientX, state.step);
    if (k < 0) return;
    playback.pause();
    playback.seek(k);
  });

  // Every control on or off: off while the run cannot be shown.
  me.enable = (on) => {
    for (const element of elements) element.disabled = !on;
  };
  return me;
}
