// The player's parts that need no browser, under Node: the frame reader however the bytes are
// split, the store as steps arrive again or with a gap, playback at the end of a run as each kind
// of run ends it, and the colour map against the colours it stands for.
//
//   node player_test.js
"use strict";
const assert = require("assert");
const { loadPlayer } = require("./player_modules.js");

const player = loadPlayer(
  ["frames.js", "store.js", "renderer.js", "caption.js", "playback.js", "compare.js"],
  ["createFrameReader", "createStore", "createPlayback", "viridis", "stepAtTime", "formatTime",
   "nodeNear"]);
const cases = [];
const test = (name, fn) => cases.push([name, fn]);

// Frames as the C++ writes them: kind, size little-endian, payload.
function frame(kind, payload) {
  const out = new Uint8Array(5 + payload.length);
  out[0] = kind;
  new DataView(out.buffer).setUint32(1, payload.length, true);
  out.set(payload, 5);
  return out;
}

test("frames come whole and in order however the bytes are split", () => {
  const big = Uint8Array.from({ length: 300 }, (_, i) => i * 7);  // its size needs two bytes
  const frames = [frame(0x52, [1, 2, 3, 4]), frame(0x45, []), frame(0x53, big), frame(0x45, [])];
  const bytes = Uint8Array.from(frames.flatMap((f) => Array.from(f)));
  for (let cut = 0; cut <= bytes.length; ++cut) {
    for (const step of [1, 3, bytes.length]) {  // one split at `cut`, the rest `step` at a time
      const reader = player.createFrameReader(), got = [];
      const take = (kind, payload) => got.push([kind, Array.from(payload)]);
      reader.push(bytes.subarray(0, cut), take);
      for (let at = cut; at < bytes.length; at += step) {
        reader.push(bytes.subarray(at, Math.min(bytes.length, at + step)), take);
      }
      assert.deepStrictEqual(got, frames.map((f) => [f[0], Array.from(f.subarray(5))]),
                             `cut at ${cut}, then ${step} at a time`);
      assert.ok(reader.between);
    }
  }
  const reader = player.createFrameReader();
  reader.push(bytes.subarray(0, 7), () => {});
  assert.ok(!reader.between, "a frame cut short is not between frames");
});

test("the store keeps each step once, takes a repeat, refuses a gap", () => {
  const store = player.createStore();
  const mesh = { nodes: 2, positions: new Float64Array(4), triangles: new Uint32Array(0),
                 edges: new Uint32Array(0) };
  const steps = (first, count) => [first, Float64Array.from({ length: count }, (_, k) => first + k),
                                   Float32Array.from({ length: 4 * count }, (_, j) =>
                                     (first + Math.floor(j / 4)) * (j % 2 ? -1 : 1))];
  assert.throws(() => store.addSteps(...steps(0, 1)), /before any mesh/);
  store.addMesh(mesh);
  const rows = [  // first, count: steps added, steps held
    [0, 3, 3, 3],
    [1, 2, 0, 3],     // all held already: a reconnection sends them again
    [2, 4, 3, 6],     // one held, three new
    [6, 1, 1, 7],
    [9, 1, "gap", 7],  // steps 7 and 8 never came
  ];
  for (const [first, count, added, held] of rows) {
    if (added === "gap") {
      assert.throws(() => store.addSteps(...steps(first, count)), /steps 7 to 8 are missing/);
    } else {
      assert.strictEqual(store.addSteps(...steps(first, count)), added, `from ${first}`);
    }
    assert.strictEqual(store.steps, held, `from ${first}`);
  }
  for (let k = 0; k < store.steps; ++k) {
    assert.strictEqual(store.time(k), k);
    assert.strictEqual(store.value(k, 1, 0), k);
    assert.strictEqual(store.value(k, 1, 1), -k);
  }
  assert.strictEqual(store.range[0], 0);
  assert.ok(Math.abs(store.range[1] - 6 * Math.SQRT2) < 1e-6, `range ${store.range}`);
  store.clear();
  assert.strictEqual(store.steps, 0);
});

test("playback at the last step: stops, loops, or follows a served run until it ends", () => {
  const rows = [  // what the run is, and what playing it to its end leaves
    { name: "a page's run", served: false, ended: false, loop: false,
      want: { playing: false, following: false, step: 4 } },
    { name: "a page's run with loop on", served: false, ended: false, loop: true,
      want: { playing: true, following: false, step: 0 } },
    { name: "a served run the solver is writing", served: true, ended: false, loop: false,
      want: { playing: false, following: true, step: 4 } },
    { name: "a served run that has ended", served: true, ended: true, loop: false,
      want: { playing: false, following: false, step: 4 } },
  ];
  for (const row of rows) {
    const frames = [];
    global.requestAnimationFrame = (fn) => frames.push(fn);
    global.performance = { now: () => 0 };
    const store = { steps: 5, time: (k) => k };
    const state = { served: row.served, ended: row.ended, loop: row.loop, ready: true, step: 0,
                    playing: false, following: false, clock: 0, speed: 1 };
    const playback = player.createPlayback(state, store, () => {});
    playback.play();
    // Frames 1.5 s apart: the clock passes the last step's time on the third.
    for (let now = 1500; frames.length > 0 && now <= 4500; now += 1500) frames.shift()(now);
    for (const key of Object.keys(row.want)) {
      assert.strictEqual(state[key], row.want[key], `${row.name}: ${key}`);
    }
  }
  // At twice the speed, a frame 1.5 s after the start shows the step of model time 3.
  const frames = [];
  global.requestAnimationFrame = (fn) => frames.push(fn);
  const state = { served: false, ended: false, loop: false, ready: true, step: 0, playing: false,
                  following: false, clock: 0, speed: 2 };
  player.createPlayback(state, { steps: 5, time: (k) => k }, () => {}).play();
  frames.shift()(1500);
  assert.strictEqual(state.step, 3, "at twice the speed");
});

test("a comparison shows each run's last step at or before the time, its first before that", () => {
  const run = (times) => ({ steps: times.length, time: (k) => times[k] });
  const every10ms = run([0, 0.01, 0.02, 0.03]), every15ms = run([0.005, 0.02, 0.035]);
  const rows = [  // t, the step shown of each
    [-1, 0, 0],
    [0, 0, 0],          // before the second run's first step: its first
    [0.005, 0, 0],
    [0.0149, 1, 0],
    [0.02, 2, 1],       // a time both runs have
    [0.03, 3, 1],
    [0.035, 3, 2],      // past the first run's end: its last
    [100, 3, 2],
  ];
  for (const [t, a, b] of rows) {
    assert.deepStrictEqual([player.stepAtTime(every10ms, t), player.stepAtTime(every15ms, t)],
                           [a, b], `at t = ${t}`);
  }
  assert.strictEqual(player.stepAtTime(run([]), 1), -1);
  assert.strictEqual(player.stepAtTime(run([0, NaN, 2]), 1), 0);
});

test("the label writes a time as printf's %lf does", () => {
  const rows = [[1.84, "1.840000"], [-0.005, "-0.005000"], [-0, "-0.000000"], [0, "0.000000"],
                [1e22, "10000000000000000000000.000000"], [NaN, "nan"], [-Infinity, "-inf"]];
  for (const [t, text] of rows) assert.strictEqual(player.formatTime(t), text, `${t}`);
});

test("a click picks the node drawn nearest, wherever it is in the grid", () => {
  // A 2 x 1 grid of cells 0.01 wide, node 4 moved up by 0.005, at the view scale 0.03 (100 pixels
  // a drawing unit: a cell is 33 pixels), the picture 1 or 2 times the viewer's.
  const profile = { HW: 0.01, HH: 0.005 };
  const positions = Float64Array.from([0, 0, 0.01, 0, 0.02, 0, 0, 0.01, 0.01, 0.01, 0.02, 0.01]);
  const values = new Float32Array(12);
  values[9] = 0.005;
  const store = { nodes: 6, meshAt: () => ({ positions }), value: (k, i, c) => values[2 * i + c] };
  const at = (i, size) => {  // where node i is drawn
    const x = positions[2 * i] - profile.HW + values[2 * i];
    const y = positions[2 * i + 1] - profile.HH + values[2 * i + 1];
    return [size * (150 + 100 * x / 0.03), size * (150 - 100 * y / 0.03)];
  };
  for (const size of [1, 2]) {
    for (let i = 0; i < 6; ++i) {
      const [px, py] = at(i, size);
      assert.strictEqual(player.nodeNear(profile, store, 0, 0.03, size, px + 3, py - 2, 8 * size), i,
                         `node ${i} at ${size}x`);
    }
    const [px, py] = at(0, size);
    assert.strictEqual(player.nodeNear(profile, store, 0, 0.03, size, px - 20 * size, py, 8 * size),
                       -1, "nowhere near a node");
  }
});

test("the colour map gives viridis's colours at its ends and between", () => {
  const rows = [  // t, viridis's colour there (as published with the map), in 0 ... 255
    [0, [68, 1, 84]], [0.25, [59, 82, 139]], [0.5, [33, 145, 140]], [0.75, [94, 201, 98]],
    [1, [253, 231, 37]],
  ];
  for (const [t, want] of rows) {
    const got = player.viridis(t);
    for (let c = 0; c < 3; ++c) {
      assert.ok(Math.abs(got[c] - want[c]) <= 4, `at ${t}: ${got} against ${want}`);
    }
  }
});

(async () => {
  for (const [name, fn] of cases) {
    try {
      await fn();
      console.log(`ok: ${name}`);
    } catch (error) {
      console.log(`FAIL: ${name}\n${error.stack}`);
      process.exitCode = 1;
    }
  }
})();
