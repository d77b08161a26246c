// The run's store: its meshes and steps as they are decoded from the page or arrive from a server,
// growing step by step. It answers a step's time and displacements, the mesh in force at a step,
// a node's value at a step, and the range of displacement magnitudes over every step so far; and
// the reading of the run's chunks into it (their bytes: docs/stream-format.md).

function createStore() {
  let nodes = 0;
  let steps = 0;
  let times = new Float64Array(64);
  let values = new Float32Array(0);  // step after step, (dx, dy) of every node
  let meshes = [];                   // {from: its first step, positions, triangles, edges}
  let next = null;                   // a mesh that holds from the next step on
  let smallest = Infinity, largest = -Infinity;

  function grow(needed) {
    if (needed <= times.length && needed * 2 * nodes <= values.length) return;
    const capacity = Math.max(needed, 2 * times.length);
    const t = new Float64Array(capacity);
    t.set(times.subarray(0, steps));
    times = t;
    const v = new Float32Array(capacity * 2 * nodes);
    v.set(values.subarray(0, steps * 2 * nodes));
    values = v;
  }

  return {
    get steps() { return steps; },
    get nodes() { return nodes; },
    // [smallest, largest] magnitude of a displacement over every step so far.
    get range() { return steps > 0 ? [smallest, largest] : [0, 0]; },
    time: (k) => times[k],
    // Every value held, step after step: the renderer uploads a step's part of it.
    get values() { return values; },
    value: (k, node, c) => values[(k * nodes + node) * 2 + c],
    meshAt(k) {
      for (let m = meshes.length - 1; m > 0; --m) if (meshes[m].from <= k) return meshes[m];
      return meshes[0];
    },

    addMesh(mesh) {
      if (steps > 0 && mesh.nodes !== nodes) {
        throw new Error(`a mesh of ${mesh.nodes} nodes in a run of ${nodes}`);
      }
      nodes = mesh.nodes;
      next = mesh;
    },

    // Appends the steps first, first + 1, ... of `stepTimes`, whose displacements are
    // `stepValues`; those the store holds already are left as they are (a reconnection sends
    // some again). Throws when a step is missing before them.
    addSteps(first, stepTimes, stepValues) {
      if (first > steps) throw new Error(`steps ${steps} to ${first - 1} are missing`);
      const skip = steps - first, count = stepTimes.length - skip;
      if (count <= 0) return 0;
      if (next) {
        meshes.push(Object.assign(next, { from: steps }));
        next = null;
      }
      if (meshes.length === 0) throw new Error("steps before any mesh");
      grow(steps + count);
      const width = 2 * nodes;
      times.set(stepTimes.subarray(skip), steps);
      const added = stepValues.subarray(skip * width, (skip + count) * width);
      values.set(added, steps * width);
      for (let j = 0; j < added.length; j += 2) {
        const m = Math.hypot(added[j], added[j + 1]);
        if (m < smallest) smallest = m;
        if (m > largest) largest = m;
      }
      steps += count;
      return count;
    },

    // Forgets everything: a new run begins.
    clear() {
      nodes = steps = 0;
      meshes = [];
      next = null;
      values = new Float32Array(0);
      smallest = Infinity;
      largest = -Infinity;
    },
  };
}

async function inflate(bytes) {
  const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate"));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

// A mesh chunk: node and triangle counts, the rest positions (64-bit), the drawn triangles.
function readMesh(data) {
  const view = new DataView(data.buffer, data.byteOffset, data.byteLength);
  const nodes = view.getUint32(0, true), count = view.getUint32(4, true);
  if (data.length !== 8 + 16 * nodes + 12 * count) throw new Error("a mesh of the wrong size");
  const positions = new Float64Array(2 * nodes);
  for (let j = 0; j < 2 * nodes; ++j) positions[j] = view.getFloat64(8 + 8 * j, true);
  const triangles = new Uint32Array(3 * count);
  for (let j = 0, at = 8 + 16 * nodes; j < 3 * count; ++j, at += 4) {
    const node = view.getInt32(at, true);
    if (node < 0 || node >= nodes) throw new Error("a triangle names no node");
    triangles[j] = node;
  }
  // Each triangle's closed outline as three segments, in its own drawing order.
  const edges = new Uint32Array(2 * triangles.length);
  for (let t = 0; t < triangles.length; t += 3) {
    const [a, b, c] = [triangles[t], triangles[t + 1], triangles[t + 2]];
    edges.set([a, b, b, c, c, a], 2 * t);
  }
  return { nodes, positions, triangles, edges };
}

// A steps chunk: first step, count, nodes, row, quantum, the times, then the displacements as
// 32-bit integers in byte planes (the four planes of every dx, then of every dy), each the
// difference from the node before it (or below it, at the start of a row) with its sign in the
// lowest bit. An integer is a float's ordered bits, or with a quantum the multiple of it.
function readSteps(data, store) {
  const view = new DataView(data.buffer, data.byteOffset, data.byteLength);
  const [first, count, nodes, row] = [0, 4, 8, 12].map((at) => view.getUint32(at, true));
  const quantum = view.getFloat64(16, true);
  if (nodes !== store.nodes) throw new Error("steps of another mesh");
  const start = 24 + 8 * count, plane = count * nodes;
  if (data.length !== start + 8 * plane) throw new Error("steps of the wrong size");
  const times = new Float64Array(count);
  for (let s = 0; s < count; ++s) times[s] = view.getFloat64(24 + 8 * s, true);
  const values = new Float32Array(2 * plane);
  const bits = new Uint32Array(values.buffer);
  const x = new Uint32Array(nodes);
  for (let c = 0; c < 2; ++c) {
    const p = start + 4 * c * plane;
    for (let s = 0; s < count; ++s) {
      for (let i = 0, at = p + s * nodes; i < nodes; ++i, ++at) {
        const folded = (data[at] | data[at + plane] << 8 | data[at + 2 * plane] << 16 |
                        data[at + 3 * plane] << 24) >>> 0;
        const before = row > 0 && i >= row && i % row === 0 ? x[i - row] : i > 0 ? x[i - 1] : 0;
        x[i] = (before + ((folded >>> 1) ^ -(folded & 1))) >>> 0;
        const j = (s * nodes + i) * 2 + c;
        if (quantum > 0) values[j] = (x[i] | 0) * quantum;
        else bits[j] = x[i] & 0x80000000 ? x[i] ^ 0x80000000 : ~x[i];
      }
    }
  }
  return store.addSteps(first, times, values);
}

// Reads one chunk, a mesh or steps, into the store; returns the number of steps added.
async function readChunk(kind, payload, store) {
  if (kind !== MESH_CHUNK && kind !== STEPS_CHUNK) {
    throw new Error(`a chunk of unknown kind ${kind}`);
  }
  const data = await inflate(payload);
  if (kind === MESH_CHUNK) {
    store.addMesh(readMesh(data));
    return 0;
  }
  return readSteps(data, store);
}

// Reads the chunks of `bytes`, a page's data, into the store, in order; returns the number of
// steps added.
async function readChunks(bytes, store) {
  const chunks = [];
  const reader = createFrameReader();
  reader.push(bytes, (kind, payload) => chunks.push([kind, payload]));
  if (!reader.between) throw new Error("the run's data end inside a chunk");
  let added = 0;
  for (const [kind, payload] of chunks) added += await readChunk(kind, payload, store);
  return added;
}

// The bytes of the page's data, which the page carries as text: the page is windows-1252, so
// every byte is one character, but windows-1252 gives the bytes 0x80 to 0x9F other characters
// (0x80 is the euro sign), mapped back here; "=" is followed by a byte the HTML parser would
// change, with bit 6 flipped.
const WINDOWS_1252 = "\u20AC\u0081\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039" +
                     "\u0152\u008D\u017D\u008F\u0090\u2018\u2019\u201C\u201D\u2022\u2013\u2014" +
                     "\u02DC\u2122\u0161\u203A\u0153\u009D\u017E\u0178";
function pageBytes(text) {
  const back = new Map();
  for (let b = 0; b < 32; ++b) back.set(WINDOWS_1252.charCodeAt(b), 0x80 + b);
  const byte = (i) => {
    const c = text.charCodeAt(i);
    const b = c <= 0xff ? c : back.get(c);
    if (b === undefined) throw new Error("the page's data hold a character no byte gives");
    return b;
  };
  const out = new Uint8Array(text.length);
  let n = 0;
  for (let i = 0; i < text.length; ++i) {
    const b = byte(i);
    out[n++] = b === 0x3d ? byte(++i) ^ 0x40 : b;
  }
  return out.subarray(0, n);
}
