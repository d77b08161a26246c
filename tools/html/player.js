// The player of a meshplay run: the page's data decoded, each step drawn with WebGL as the viewer
// draws it (the same geometry, the same colours, lines and points without anti-aliasing), played
// in model time, and driven by the controls, the keys and window.meshplay.
"use strict";
(() => {
  const meta = JSON.parse(document.getElementById("meshplay-meta").textContent);
  const P = meta.profile;
  const times = meta.times;
  const steps = times.length;
  const nodes = meta.nodes;
  const values = 2 * nodes;
  const $ = (id) => document.getElementById(id);
  const picture = $("picture");
  const overlay = $("overlay").getContext("2d");
  const SIZE = 300;       // the viewer's window, in pixels
  const UNIT = 100;       // pixels per drawing unit
  const BAR = [0, 1, 0.5];  // the progress bar's colour, as the viewer's (0, 1.0, 0.5)

  // What the user toggles and zooms, as in the viewer; it stays across seeks.
  const display = { nodes: true, outlines: true, colour: false, scale: P.SCALE_INIT };
  let displacements = null;  // every step's (dx, dy) of every node: steps x values floats
  const meshes = [];         // {from: first step, rest: node positions less the grid's centre,
                             //  edges, triangles: index buffers} as the tables change
  let selected = -1;         // the node whose history is plotted
  let clock = 0;             // model time while playing
  let lastFrame = 0;
  let drawn = -1;            // the step the canvas shows

  const api = {
    steps, step: 0, time: times[0], playing: false, ready: false, canvas: picture,
    seek, play, pause,
  };
  window.meshplay = api;

  // ---- The data: base64 text, deflated (DecompressionStream); in it, blocks of steps, each after
  // the mesh if it changes there, and in each block the displacements as float bits, each the
  // difference from the same component of the node before with the sign in the lowest bit, in
  // byte planes: the four planes of the block's dx, then those of its dy.

  async function decode() {
    const text = $("meshplay-data").textContent.trim();
    const binary = atob(text);
    const packed = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; ++i) packed[i] = binary.charCodeAt(i);
    const stream = new Blob([packed]).stream().pipeThrough(new DecompressionStream("deflate"));
    const data = new Uint8Array(await new Response(stream).arrayBuffer());
    const view = new DataView(data.buffer);
    displacements = new Float32Array(steps * values);
    const bits = new Uint32Array(displacements.buffer);
    let at = 0;
    for (let block = 0, k = 0, mesh = 0; block < meta.blocks.length; ++block) {
      if (mesh < meta.meshSteps.length && meta.meshSteps[mesh] === k) {
        const rest = new Float32Array(values);
        for (let j = 0; j < values; ++j, at += 8) {
          rest[j] = view.getFloat64(at, true) - (j % 2 === 0 ? P.HW : P.HH);
        }
        const count = meta.meshTriangles[mesh];
        const triangles = new Uint32Array(3 * count);
        for (let j = 0; j < 3 * count; ++j, at += 4) triangles[j] = view.getInt32(at, true);
        meshes.push({ from: k, rest, triangles, edges: edgesOf(triangles) });
        ++mesh;
      }
      const count = meta.blocks[block] * nodes;  // values of one component in the block
      for (let s = 0; s < meta.blocks[block]; ++s, ++k) {
        for (let c = 0; c < 2; ++c) {
          const plane = at + 4 * c * count + s * nodes;
          let before = 0;
          for (let i = 0; i < nodes; ++i) {
            const folded = data[plane + i] | data[plane + count + i] << 8 |
                           data[plane + 2 * count + i] << 16 | data[plane + 3 * count + i] << 24;
            before = (before + ((folded >>> 1) ^ -(folded & 1))) >>> 0;
            bits[k * values + 2 * i + c] = before;
          }
        }
      }
      at += 8 * count;
    }
  }

  // Each triangle's closed outline as three segments, in its own drawing order.
  function edgesOf(triangles) {
    const edges = new Uint32Array(2 * triangles.length);
    for (let t = 0; t < triangles.length; t += 3) {
      const [a, b, c] = [triangles[t], triangles[t + 1], triangles[t + 2]];
      edges.set([a, b, b, c, c, a], 2 * t);
    }
    return edges;
  }

  function meshAt(k) {
    let found = meshes[0];
    for (const m of meshes) if (m.from <= k) found = m;
    return found;
  }

  // ---- Drawing: one drawing unit is 100 pixels with the origin at the centre, as the viewer's
  // projection of a 300 x 300 window makes it; clip space spans 1.5 units each way.

  // A perceptual colour map (viridis) as a polynomial, the same in the shader and the colour bar.
  const VIRIDIS = [[0.2777273272234177, 0.005407344544966578, 0.3340998053353061],
                   [0.1050930431085774, 1.404613529898575, 1.384590162594685],
                   [-0.3308618287255563, 0.214847559468213, 0.09509516302823659],
                   [-4.634230498983486, -5.799100973351585, -19.33244095627987],
                   [6.228269936347081, 14.17993336680509, 56.69055260068105],
                   [4.776384997670288, -13.74514537774601, -65.35303263337234],
                   [-5.435455855934631, 4.645852612178535, 26.3124352495832]];
  function viridisSource() {
    const c = VIRIDIS.map((v) => `vec3(${v.map((x) => x.toFixed(12)).join(", ")})`);
    let body = c[6];
    for (let i = 5; i >= 0; --i) body = `${c[i]} + t * (${body})`;
    return `vec3 viridis(float t) { return clamp(${body}, 0.0, 1.0); }`;
  }
  function viridis(t) {
    return [0, 1, 2].map((ch) => {
      let v = VIRIDIS[6][ch];
      for (let i = 5; i >= 0; --i) v = VIRIDIS[i][ch] + t * v;
      return Math.round(255 * Math.min(1, Math.max(0, v)));
    });
  }

  const gl = picture.getContext("webgl2", { antialias: false, preserveDrawingBuffer: true });
  const shaders = {
    mesh: `#version 300 es
      in vec2 rest; in vec2 moved; in float magnitude;
      uniform float scale; uniform float pointSize;
      out float vMagnitude;
      void main() {
        gl_Position = vec4((rest + moved) / scale / 1.5, 0.0, 1.0);
        gl_PointSize = pointSize;
        vMagnitude = magnitude;
      }`,
    flat: `#version 300 es
      in vec2 position;
      void main() { gl_Position = vec4(position / 1.5, 0.0, 1.0); }`,
    colour: `#version 300 es
      precision highp float;
      in float vMagnitude;
      uniform vec4 colour; uniform int byMagnitude; uniform vec2 range;
      out vec4 result;
      ${viridisSource()}
      void main() {
        float t = clamp((vMagnitude - range.x) / max(range.y - range.x, 1e-30), 0.0, 1.0);
        result = byMagnitude == 1 ? vec4(viridis(t), 1.0) : colour;
      }`,
    plain: `#version 300 es
      precision highp float;
      uniform vec4 colour;
      out vec4 result;
      void main() { result = colour; }`,
  };

  function program(vertex, fragment) {
    const p = gl.createProgram();
    for (const [type, source] of [[gl.VERTEX_SHADER, vertex], [gl.FRAGMENT_SHADER, fragment]]) {
      const s = gl.createShader(type);
      gl.shaderSource(s, source);
      gl.compileShader(s);
      if (!gl.getShaderParameter(s, gl.COMPILE_STATUS)) throw new Error(gl.getShaderInfoLog(s));
      gl.attachShader(p, s);
    }
    gl.linkProgram(p);
    if (!gl.getProgramParameter(p, gl.LINK_STATUS)) throw new Error(gl.getProgramInfoLog(p));
    const at = (name) => gl.getUniformLocation(p, name);
    return { p, at };
  }

  let meshProgram, flatProgram, buffers;

  function setUpGl() {
    meshProgram = program(shaders.mesh, shaders.colour);
    flatProgram = program(shaders.flat, shaders.plain);
    buffers = {
      rest: gl.createBuffer(), moved: gl.createBuffer(), magnitude: gl.createBuffer(),
      edges: gl.createBuffer(), triangles: gl.createBuffer(), flat: gl.createBuffer(),
      mesh: null,
    };
  }

  function attribute(p, name, buffer, size) {
    const location = gl.getAttribLocation(p, name);
    if (location < 0) return;
    gl.bindBuffer(gl.ARRAY_BUFFER, buffer);
    gl.enableVertexAttribArray(location);
    gl.vertexAttribPointer(location, size, gl.FLOAT, false, 0, 0);
  }

  function flat(mode, points, colour) {
    gl.useProgram(flatProgram.p);
    gl.uniform4f(flatProgram.at("colour"), colour[0], colour[1], colour[2], 1);
    gl.bindBuffer(gl.ARRAY_BUFFER, buffers.flat);
    gl.bufferData(gl.ARRAY_BUFFER, new Float32Array(points), gl.STREAM_DRAW);
    attribute(flatProgram.p, "position", buffers.flat, 2);
    gl.drawArrays(mode, 0, points.length / 2);
  }

  // The run's range of displacement magnitudes, one for every step, so that colours compare.
  const range = meta.magnitude;

  function draw(k) {
    const s = display.scale;
    const mesh = meshAt(k);
    const moved = displacements.subarray(k * values, (k + 1) * values);
    if (buffers.mesh !== mesh) {
      gl.bindBuffer(gl.ARRAY_BUFFER, buffers.rest);
      gl.bufferData(gl.ARRAY_BUFFER, mesh.rest, gl.STATIC_DRAW);
      gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, buffers.edges);
      gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, mesh.edges, gl.STATIC_DRAW);
      gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, buffers.triangles);
      gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, mesh.triangles, gl.STATIC_DRAW);
      buffers.mesh = mesh;
    }
    gl.bindBuffer(gl.ARRAY_BUFFER, buffers.moved);
    gl.bufferData(gl.ARRAY_BUFFER, moved, gl.STREAM_DRAW);
    const magnitudes = new Float32Array(nodes);
    if (display.colour) {
      for (let i = 0; i < nodes; ++i) magnitudes[i] = Math.hypot(moved[2 * i], moved[2 * i + 1]);
    }
    gl.bindBuffer(gl.ARRAY_BUFFER, buffers.magnitude);
    gl.bufferData(gl.ARRAY_BUFFER, magnitudes, gl.STREAM_DRAW);

    gl.viewport(0, 0, SIZE, SIZE);
    gl.clearColor(1, 1, 1, 1);
    gl.clear(gl.COLOR_BUFFER_BIT);
    const useMesh = (pointSize, byMagnitude) => {
      gl.useProgram(meshProgram.p);
      attribute(meshProgram.p, "rest", buffers.rest, 2);
      attribute(meshProgram.p, "moved", buffers.moved, 2);
      attribute(meshProgram.p, "magnitude", buffers.magnitude, 1);
      gl.uniform1f(meshProgram.at("scale"), s);
      gl.uniform1f(meshProgram.at("pointSize"), pointSize);
      gl.uniform1i(meshProgram.at("byMagnitude"), byMagnitude ? 1 : 0);
      gl.uniform2f(meshProgram.at("range"), range[0], range[1]);
      gl.uniform4f(meshProgram.at("colour"), 0, 0, 0, 1);
    };
    if (display.colour) {  // beneath everything the viewer draws
      useMesh(1, true);
      gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, buffers.triangles);
      gl.drawElements(gl.TRIANGLES, mesh.triangles.length, gl.UNSIGNED_INT, 0);
    }
    flat(gl.LINES, [-P.FW / s, -P.HH / s, P.FW / s, -P.HH / s], [0, 0, 0]);  // the base line
    if (display.nodes) {
      useMesh(4, false);
      gl.drawArrays(gl.POINTS, 0, nodes);
    }
    if (display.outlines) {
      useMesh(1, false);
      gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, buffers.edges);
      gl.drawElements(gl.LINES, mesh.edges.length, gl.UNSIGNED_INT, 0);
    }
    const t = times[k];
    const xf = -(1 - t / (P.T_END / 2)) * P.FW;  // the fill's right end, as the viewer's
    const [top, bottom] = [-P.YTOP / s, -P.YBOT / s];
    flat(gl.LINE_LOOP, [-P.FW / s, top, P.FW / s, top, P.FW / s, bottom, -P.FW / s, bottom], BAR);
    flat(gl.TRIANGLE_FAN, [-P.FW / s, top, xf / s, top, xf / s, bottom, -P.FW / s, bottom], BAR);
    drawOverlay(t);
    drawn = k;
  }

  // printf's "%lf": six decimals and every integer digit, whatever the size.
  function formatTime(t) {
    if (Number.isNaN(t)) return "nan";
    if (!Number.isFinite(t)) return t > 0 ? "inf" : "-inf";
    const sign = t < 0 || Object.is(t, -0) ? "-" : "";
    const a = Math.abs(t);
    return sign + (a < 1e21 ? a.toFixed(6) : BigInt(a).toString() + ".000000");
  }

  function pixel(x, y) {  // drawing units to canvas pixels, rows downwards
    return [SIZE / 2 + UNIT * x, SIZE / 2 - UNIT * y];
  }

  function drawOverlay(t) {
    overlay.clearRect(0, 0, SIZE, SIZE);
    const [x, y] = pixel(-P.FW / display.scale, -P.YLABEL / display.scale);
    overlay.fillStyle = "#000";
    overlay.font = "18px Helvetica, Arial, sans-serif";
    overlay.textBaseline = "alphabetic";
    overlay.fillText(`Progress :  Virtual:${formatTime(t)}[s]`, x, y);
    if (display.colour) drawColourBar();
  }

  function drawColourBar() {
    const [x0, y0, width, height] = [SIZE - 22, 10, 10, 120];
    for (let i = 0; i < height; ++i) {
      const [r, g, b] = viridis(1 - i / (height - 1));
      overlay.fillStyle = `rgb(${r},${g},${b})`;
      overlay.fillRect(x0, y0 + i, width, 1);
    }
    overlay.strokeStyle = "#000";
    overlay.strokeRect(x0 - 0.5, y0 - 0.5, width + 1, height + 1);
    overlay.font = "10px sans-serif";
    overlay.textAlign = "right";
    for (const [value, y] of [[range[1], y0 + 8], [range[0], y0 + height]]) {
      const label = value.toPrecision(3);
      overlay.fillStyle = "rgba(255,255,255,0.85)";
      overlay.fillRect(x0 - 5 - overlay.measureText(label).width, y - 9, overlay.measureText(label).width + 4, 11);
      overlay.fillStyle = "#000";
      overlay.fillText(label, x0 - 3, y);
    }
    overlay.textAlign = "left";
  }

  // ---- A node's history: dx and dy against time over the run, a marker at the step shown.

  const history = $("history");
  const plot = { left: 50, right: 10, top: 20, bottom: 25 };

  function timeRange() {
    let [lo, hi] = [Infinity, -Infinity];
    for (const t of times) if (Number.isFinite(t)) [lo, hi] = [Math.min(lo, t), Math.max(hi, t)];
    return lo < hi ? [lo, hi] : [lo - 1, lo + 1];
  }

  function drawHistory() {
    if (selected < 0) return;
    history.hidden = false;
    const c = history.getContext("2d");
    const [w, h] = [history.width, history.height];
    c.clearRect(0, 0, w, h);
    let [lo, hi] = [Infinity, -Infinity];
    for (let k = 0; k < steps; ++k) {
      for (const v of [displacements[k * values + 2 * selected], displacements[k * values + 2 * selected + 1]]) {
        [lo, hi] = [Math.min(lo, v), Math.max(hi, v)];
      }
    }
    if (!(lo < hi)) [lo, hi] = [lo - 1, lo + 1];
    const [t0, t1] = timeRange();
    const x = (t) => plot.left + (t - t0) / (t1 - t0) * (w - plot.left - plot.right);
    const y = (v) => h - plot.bottom - (v - lo) / (hi - lo) * (h - plot.top - plot.bottom);
    c.strokeStyle = "#999";
    c.strokeRect(plot.left, plot.top, w - plot.left - plot.right, h - plot.top - plot.bottom);
    for (const [component, colour, name] of [[0, "#d62728", "dx"], [1, "#1f77b4", "dy"]]) {
      c.strokeStyle = colour;
      c.beginPath();
      for (let k = 0; k < steps; ++k) {
        const v = displacements[k * values + 2 * selected + component];
        if (k === 0) c.moveTo(x(times[k]), y(v)); else c.lineTo(x(times[k]), y(v));
      }
      c.stroke();
      c.fillStyle = colour;
      c.fillText(name, plot.left + 5 + 25 * component, plot.top - 6);
    }
    c.fillStyle = "#222";
    c.font = "11px sans-serif";
    c.fillText(`node ${selected}`, plot.left + 60, plot.top - 6);
    c.fillText(hi.toPrecision(3), 2, plot.top + 8);
    c.fillText(lo.toPrecision(3), 2, h - plot.bottom);
    c.fillText(`${t0} s`, plot.left, h - 8);
    c.textAlign = "right";
    c.fillText(`${t1} s`, w - plot.right, h - 8);
    c.textAlign = "left";
    c.strokeStyle = "#000";
    c.beginPath();
    c.moveTo(x(times[api.step]), plot.top);
    c.lineTo(x(times[api.step]), h - plot.bottom);
    c.stroke();
  }

  history.addEventListener("click", (event) => {
    const rect = history.getBoundingClientRect();
    const [t0, t1] = timeRange();
    const t = t0 + (event.clientX - rect.left - plot.left) / (history.width - plot.left - plot.right) * (t1 - t0);
    let best = 0;
    for (let k = 1; k < steps; ++k) if (Math.abs(times[k] - t) < Math.abs(times[best] - t)) best = k;
    pause();
    seek(best);
  });

  picture.addEventListener("click", (event) => {
    const rect = picture.getBoundingClientRect();
    const [px, py] = [event.clientX - rect.left, event.clientY - rect.top];
    const mesh = meshAt(api.step);
    let [best, distance] = [-1, 8];  // pixels
    for (let i = 0; i < nodes; ++i) {
      const [x, y] = pixel((mesh.rest[2 * i] + displacements[api.step * values + 2 * i]) / display.scale,
                           (mesh.rest[2 * i + 1] + displacements[api.step * values + 2 * i + 1]) / display.scale);
      const d = Math.hypot(x - px, y - py);
      if (d < distance) [best, distance] = [i, d];
    }
    if (best >= 0) {
      selected = best;
      drawHistory();
    }
  });

  // ---- Playback in model time: at each animation frame the clock advances by the time that
  // passed times the speed, and the step shown is the last whose time the clock has reached.

  function show() {
    if (!api.ready) return;
    requestAnimationFrame(() => {
      if (drawn !== api.step || show.again) draw(api.step);
      show.again = false;
      drawHistory();
    });
  }

  // Shows step k (clamped to the run) from the next animation frame on.
  function setStep(k) {
    const step = Math.max(0, Math.min(steps - 1, Math.trunc(Number(k)) || 0));
    api.step = step;
    api.time = times[step];
    $("slider").value = String(step);
    $("time").textContent = `t = ${times[step]} s`;
    show();
  }

  function seek(k) {
    setStep(k);
    clock = times[api.step];
  }

  function play() {
    if (api.playing) return;
    if (api.step === steps - 1 && !$("loop").checked) seek(0);
    api.playing = true;
    clock = times[api.step];
    lastFrame = performance.now();
    $("play").textContent = "II";
    requestAnimationFrame(tick);
  }

  function pause() {
    api.playing = false;
    $("play").textContent = "\u25B6";
  }

  function tick(now) {
    if (!api.playing) return;
    clock += (now - lastFrame) / 1000 * Number($("speed").value);
    lastFrame = now;
    let k = api.step;
    while (k + 1 < steps && !(times[k + 1] > clock)) ++k;
    if (k !== api.step) setStep(k);
    if (k === steps - 1) {
      if ($("loop").checked) {
        seek(0);
      } else {
        pause();
        return;
      }
    }
    requestAnimationFrame(tick);
  }

  function redraw() {
    show.again = true;
    show();
  }

  // ---- Controls and keys. Keys never advance the step by themselves: toggles and zoom redraw
  // the step shown.

  function stepBy(d) {
    pause();
    seek(api.step + d);
  }

  function toggle() {
    if (api.playing) pause(); else play();
  }

  $("first").addEventListener("click", () => { pause(); seek(0); });
  $("back").addEventListener("click", () => stepBy(-1));
  $("play").addEventListener("click", toggle);
  $("forward").addEventListener("click", () => stepBy(1));
  $("last").addEventListener("click", () => { pause(); seek(steps - 1); });
  $("slider").addEventListener("input", (event) => { pause(); seek(event.target.value); });
  $("colour").addEventListener("change", (event) => { display.colour = event.target.checked; redraw(); });

  document.addEventListener("keydown", (event) => {
    if (event.ctrlKey || event.metaKey || event.altKey || event.target.tagName === "SELECT") return;
    const actions = {
      n: () => { display.nodes = !display.nodes; redraw(); },
      e: () => { display.outlines = !display.outlines; redraw(); },
      r: () => { pause(); seek(0); },
      s: toggle,
      " ": toggle,
      ArrowUp: () => {  // as the viewer: never below half a step, where the picture would vanish
        const smaller = display.scale - P.SCALE_STEP;
        if (smaller >= P.SCALE_STEP / 2) display.scale = smaller;
        redraw();
      },
      ArrowDown: () => { display.scale += P.SCALE_STEP; redraw(); },
      ArrowLeft: () => stepBy(-1),
      ArrowRight: () => stepBy(1),
      Home: () => { pause(); seek(0); },
      End: () => { pause(); seek(steps - 1); },
    };
    const action = actions[event.key];
    if (!action) return;
    event.preventDefault();
    action();
  });

  // ---- Start: decode, draw the step the address names (#step=K) or the first, and say ready.

  (async () => {
    try {
      if (!gl) throw new Error("this browser offers no WebGL 2");
      setUpGl();
      await decode();
      $("slider").max = String(steps - 1);
      const named = /^#step=(\d+)$/.exec(location.hash);
      seek(named ? Number(named[1]) : 0);
      draw(api.step);
      api.ready = true;
      $("status").textContent = `${meta.program}: ${steps} time steps, ${nodes} nodes.`;
    } catch (error) {
      $("status").textContent = `This page cannot show the run: ${error.message}`;
    }
  })();
})();
