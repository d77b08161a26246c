// The web page's data read back without a browser: the real page writer on a run of several
// blocks of steps, whose mesh changes mid-run, decoded by the player's own store module under
// Node, value for value against the run; and with --digits 4, every value within half the
// quantum of the run's largest displacement.
//
//   node page_decode_test.js PROGRAM.json WORK_DIR
"use strict";
const assert = require("assert");
const fs = require("fs");
const path = require("path");
const { execFileSync } = require("child_process");
const { loadPlayer } = require("./player_modules.js");
const { createStore, readChunks, pageBytes } =
  loadPlayer(["frames.js", "store.js"], ["createStore", "readChunks", "pageBytes"]);

const program = JSON.parse(fs.readFileSync(process.argv[2], "utf8"));
const work = process.argv[3];
const P = program;
const STEPS = 300, CHANGE = 140;  // the mesh moves at step CHANGE, inside the second block
// Steps 10 ms apart, or closer for a profile whose run ends sooner: all of them before its end.
const DT = Math.min(0.01, P.T_END / (2 * STEPS));

// A reproducible stream of numbers in [0, 1).
let seed = 7;
const random = () => (seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648;

// What the files say, as text, and what the page must give back: the float the GPU draws.
const grid = (shift) => Array.from({ length: P.NODE_COUNT }, (_, i) => [
  (i % (P.NX + 1)) * P.DX + shift, Math.floor(i / (P.NX + 1)) * P.DY]);
const meshes = [grid(0), grid(P.DX / 3)];
const records = Array.from({ length: STEPS }, (_, k) => {
  const values = Array.from({ length: 2 * P.NODE_COUNT }, (_, j) => {
    if (j % 11 === 3) return "0";
    const v = (random() - 0.5) * 10 ** (-1 - Math.floor(4 * random())) * (1 + k / 10);
    return v.toExponential(5);
  });
  return { time: String(k * DT), values };
});
const triangles = Array.from({ length: P.ELEMENT_COUNT }, (_, e) => {
  const cell = Math.floor(e / 2), row = Math.floor(cell / P.NX), i = row * (P.NX + 1) + cell % P.NX;
  return e % 2 === 0 ? [i, i + 1, i + P.NX + 2] : [i, i + P.NX + 2, i + P.NX + 1];
});
triangles[3] = [0, 1, P.NODE_COUNT + 5];  // names no node: neither drawn nor written

const line = (numbers) => numbers.join(" ") + "\n";
const blocks = Array.from({ length: CHANGE + 1 }, (_, b) => meshes[b === CHANGE ? 1 : 0]);
fs.mkdirSync(work, { recursive: true });
fs.writeFileSync(path.join(work, "geodata.dat"),
                 blocks.map((m) => m.map(([x, y], i) => line([i, x, y])).join("")).join(""));
fs.writeFileSync(path.join(work, "tridata.dat"), triangles.map((t, e) => line([e, ...t])).join(""));
const pairs = P.VECTOR_PAIRS + P.BASE_PAIRS;
fs.writeFileSync(path.join(work, "result.dat"), records.map(({ time, values }) => line(
  [time, ...Array(P.HEADER_VALUES - 1).fill(0), ...values, ...Array(2 * pairs - values.length).fill(0)])).join(""));

async function read(page) {
  const html = new TextDecoder("windows-1252").decode(fs.readFileSync(path.join(work, page)));
  const open = '<script type="application/octet-stream" id="meshplay-data">';
  const start = html.indexOf(open) + open.length;
  const store = createStore();
  await readChunks(pageBytes(html.slice(start, html.indexOf("</script>", start))), store);
  return store;
}

(async () => {
  for (const page of ["exact.html", "four.html"]) {
    execFileSync(P.html, [page, ...(page === "four.html" ? ["--digits", "4"] : [])],
                 { cwd: work, stdio: ["ignore", "ignore", "pipe"] });
  }
  const exact = await read("exact.html"), four = await read("four.html");
  const expected = (k, j) => Math.fround(Number(records[k].values[j]) || 0);
  let largest = 0;
  for (const store of [exact, four]) {
    assert.strictEqual(store.steps, STEPS);
    assert.strictEqual(store.nodes, P.NODE_COUNT);
    for (let k = 0; k < STEPS; ++k) {
      assert.strictEqual(store.time(k), Number(records[k].time), `time of step ${k}`);
      const mesh = store.meshAt(k);
      assert.deepStrictEqual(Array.from(mesh.positions), meshes[k < CHANGE ? 0 : 1].flat(),
                             `mesh of step ${k}`);
      assert.deepStrictEqual(Array.from(mesh.triangles),
                             triangles.filter((_, e) => e !== 3).flat(), `triangles of step ${k}`);
    }
  }
  // The colours' range: the smallest and largest displacement over the whole run.
  const range = [Infinity, -Infinity];
  for (let k = 0; k < STEPS; ++k) {
    for (let i = 0; i < P.NODE_COUNT; ++i) {
      const m = Math.hypot(expected(k, 2 * i), expected(k, 2 * i + 1));
      [range[0], range[1]] = [Math.min(range[0], m), Math.max(range[1], m)];
    }
  }
  assert.deepStrictEqual(exact.range, range);
  for (let k = 0; k < STEPS; ++k) {
    for (let j = 0; j < 2 * P.NODE_COUNT; ++j) {
      const want = expected(k, j);
      if (!Object.is(exact.value(k, j >> 1, j & 1), want)) {
        assert.fail(`step ${k}, node ${j >> 1}, component ${j & 1}: ` +
                    `${exact.value(k, j >> 1, j & 1)} where the run has ${want}`);
      }
      largest = Math.max(largest, Math.abs(want));
    }
  }
  // Four significant digits of the run's largest displacement, at least.
  const half = 10 ** (Math.floor(Math.log10(largest)) - 3) / 2;
  for (let k = 0; k < STEPS; ++k) {
    for (let j = 0; j < 2 * P.NODE_COUNT; ++j) {
      // Half the quantum, and the float's own rounding of the multiple of it.
      const error = Math.abs(four.value(k, j >> 1, j & 1) - expected(k, j));
      if (!(error <= half + Math.abs(expected(k, j)) * 2 ** -23)) {
        assert.fail(`--digits 4: step ${k}, value ${j} is off by ${error}, more than ${half}`);
      }
    }
  }
  const sizes = ["exact.html", "four.html"].map((p) => fs.statSync(path.join(work, p)).size);
  assert.ok(sizes[1] < 0.6 * sizes[0], `--digits 4 gives ${sizes[1]} bytes, exact ${sizes[0]}`);
  fs.rmSync(work, { recursive: true, force: true });
})().catch((error) => {
  console.error(error.message);
  process.exit(1);
});
