// The viewer's picture in WebGL 2, at the viewer's geometry: one drawing unit is 100 pixels with
// the origin at the centre of the 300 x 300 picture (clip space spans 1.5 units each way); white
// ground, the black base line, 4 x 4 node points and one-pixel triangle outlines without
// smoothing, the green progress frame and fill; with the colour on, the triangles filled by their
// nodes' displacement beneath. Programs, buffers and locations are made once, and again when the
// browser gives back a context it took away; a frame uploads the step's displacements only when
// the step changes, sets a few uniforms and draws.

// A perceptual colour map (viridis) as a polynomial, the same in the shader and the colour bar.
const VIRIDIS = [[0.2777273272234177, 0.005407344544966578, 0.3340998053353061],
                 [0.1050930431085774, 1.404613529898575, 1.384590162594685],
                 [-0.3308618287255563, 0.214847559468213, 0.09509516302823659],
                 [-4.634230498983486, -5.799100973351585, -19.33244095627987],
                 [6.228269936347081, 14.17993336680509, 56.69055260068105],
                 [4.776384997670288, -13.74514537774601, -65.35303263337234],
                 [-5.435455855934631, 4.645852612178535, 26.3124352495832]];

function viridis(t) {  // [r, g, b], 0 ... 255
  return [0, 1, 2].map((ch) => {
    let v = VIRIDIS[6][ch];
    for (let i = 5; i >= 0; --i) v = VIRIDIS[i][ch] + t * v;
    return Math.round(255 * Math.min(1, Math.max(0, v)));
  });
}

function viridisSource() {
  const c = VIRIDIS.map((v) => `vec3(${v.map((x) => x.toFixed(12)).join(", ")})`);
  let body = c[6];
  for (let i = 5; i >= 0; --i) body = `${c[i]} + t * (${body})`;
  return `vec3 viridis(float t) { return clamp(${body}, 0.0, 1.0); }`;
}

const SHADERS = {
  // A node moved by its displacement, in model units less the grid's centre.
  mesh: `#version 300 es
    in vec2 rest; in vec2 moved;
    uniform float scale; uniform float pointSize;
    out float magnitude;
    void main() {
      gl_Position = vec4((rest + moved) / scale / 1.5, 0.0, 1.0);
      gl_PointSize = pointSize;
      magnitude = length(moved);
    }`,
  meshColour: `#version 300 es
    precision highp float;
    in float magnitude;
    uniform vec4 colour; uniform bool byMagnitude; uniform vec2 range;
    out vec4 result;
    ${viridisSource()}
    void main() {
      float t = clamp((magnitude - range.x) / max(range.y - range.x, 1e-30), 0.0, 1.0);
      result = byMagnitude ? vec4(viridis(t), 1.0) : colour;
    }`,
  // The base line and the progress bar, in model units; a corner whose z is 1 sits at the fill's
  // right end, given in drawing units.
  frame: `#version 300 es
    in vec3 corner;
    uniform float scale; uniform float fillEdge;
    void main() {
      vec2 at = corner.z > 0.5 ? vec2(fillEdge, corner.y / scale) : corner.xy / scale;
      gl_Position = vec4(at / 1.5, 0.0, 1.0);
    }`,
  plain: `#version 300 es
    precision highp float;
    uniform vec4 colour;
    out vec4 result;
    void main() { result = colour; }`,
};

const BLACK = [0, 0, 0, 1], BAR = [0, 1, 0.5, 1];  // the viewer's colours

function createRenderer(canvas, profile, onContext) {
  const P = profile;
  const gl = canvas.getContext("webgl2", { antialias: false, preserveDrawingBuffer: true });
  if (!gl) return null;
  let gpu = null;                 // what was made on the context; null while it is lost
  let uploadedMesh = null, uploadedStep = -1;

  function program(vertex, fragment, uniforms) {
    const p = gl.createProgram();
    for (const [type, source] of [[gl.VERTEX_SHADER, vertex], [gl.FRAGMENT_SHADER, fragment]]) {
      const s = gl.createShader(type);
      gl.shaderSource(s, source);
      gl.compileShader(s);
      gl.attachShader(p, s);
    }
    gl.linkProgram(p);
    if (!gl.getProgramParameter(p, gl.LINK_STATUS)) throw new Error(gl.getProgramInfoLog(p));
    const at = {};
    for (const name of uniforms) at[name] = gl.getUniformLocation(p, name);
    return { p, at };
  }

  function attribute(p, name, buffer, size) {
    const location = gl.getAttribLocation(p, name);
    gl.bindBuffer(gl.ARRAY_BUFFER, buffer);
    gl.enableVertexAttribArray(location);
    gl.vertexAttribPointer(location, size, gl.FLOAT, false, 0, 0);
  }

  function setUp() {
    const mesh = program(SHADERS.mesh, SHADERS.meshColour,
                         ["scale", "pointSize", "colour", "byMagnitude", "range"]);
    const frame = program(SHADERS.frame, SHADERS.plain, ["scale", "fillEdge", "colour"]);
    const buffers = {};
    for (const name of ["rest", "moved", "triangles", "edges", "corners"]) {
      buffers[name] = gl.createBuffer();
    }
    const meshVao = gl.createVertexArray();
    gl.bindVertexArray(meshVao);
    attribute(mesh.p, "rest", buffers.rest, 2);
    attribute(mesh.p, "moved", buffers.moved, 2);
    const frameVao = gl.createVertexArray();
    gl.bindVertexArray(frameVao);
    const [fw, hh, top, bottom] = [P.FW, P.HH, P.YTOP, P.YBOT];
    gl.bindBuffer(gl.ARRAY_BUFFER, buffers.corners);
    gl.bufferData(gl.ARRAY_BUFFER, new Float32Array([
      -fw, -hh, 0, fw, -hh, 0,                                          // base line
      -fw, -top, 0, fw, -top, 0, fw, -bottom, 0, -fw, -bottom, 0,       // progress frame
      -fw, -top, 0, 0, -top, 1, 0, -bottom, 1, -fw, -bottom, 0]),       // its fill
      gl.STATIC_DRAW);
    attribute(frame.p, "corner", buffers.corners, 3);
    gl.bindVertexArray(null);
    gpu = { mesh, frame, buffers, meshVao, frameVao };
    uploadedMesh = null;
    uploadedStep = -1;
  }

  canvas.addEventListener("webglcontextlost", (event) => {
    event.preventDefault();  // so that the browser may give it back
    gpu = null;
    onContext(false);
  });
  canvas.addEventListener("webglcontextrestored", () => {
    setUp();
    onContext(true);
  });
  setUp();

  // Each mesh's rest positions less the grid's centre, in 32-bit floats (precise near the
  // picture): the renderer's own, kept beside the store's meshes, never in them.
  const restOf = new WeakMap();
  function rest(mesh) {
    let r = restOf.get(mesh);
    if (!r) {
      r = new Float32Array(mesh.positions.length);
      for (let j = 0; j < r.length; ++j) r[j] = mesh.positions[j] - (j % 2 === 0 ? P.HW : P.HH);
      restOf.set(mesh, r);
    }
    return r;
  }

  function upload(store, k) {
    const mesh = store.meshAt(k);
    const { buffers } = gpu;
    if (uploadedMesh !== mesh) {
      const positions = rest(mesh);
      gl.bindBuffer(gl.ARRAY_BUFFER, buffers.rest);
      gl.bufferData(gl.ARRAY_BUFFER, positions, gl.STATIC_DRAW);
      gl.bindBuffer(gl.ARRAY_BUFFER, buffers.moved);
      gl.bufferData(gl.ARRAY_BUFFER, positions.length * 4, gl.DYNAMIC_DRAW);
      gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, buffers.triangles);
      gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, mesh.triangles, gl.STATIC_DRAW);
      gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, buffers.edges);
      gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, mesh.edges, gl.STATIC_DRAW);
      uploadedMesh = mesh;
      uploadedStep = -1;
    }
    if (uploadedStep !== k) {
      const width = 2 * store.nodes;
      gl.bindBuffer(gl.ARRAY_BUFFER, buffers.moved);
      gl.bufferSubData(gl.ARRAY_BUFFER, 0, store.values, k * width, width);
      uploadedStep = k;
    }
    return mesh;
  }

  // What one frame draws, in the viewer's order, each with the program it needs: "mesh" or
  // "frame", at scale s in `colour`; returns the program's uniforms.
  function use(which, s, colour) {
    const { p, at } = gpu[which];
    gl.useProgram(p);
    gl.bindVertexArray(gpu[`${which}Vao`]);
    gl.uniform1f(at.scale, s);
    gl.uniform4fv(at.colour, colour);
    return at;
  }
  function useMesh(s, range) {
    const at = use("mesh", s, BLACK);
    gl.uniform2f(at.range, range[0], range[1]);
    return at;
  }
  function drawGround() {
    gl.viewport(0, 0, canvas.width, canvas.height);
    gl.clearColor(1, 1, 1, 1);
    gl.clear(gl.COLOR_BUFFER_BIT);
  }
  // Beneath everything the viewer draws.
  function drawColours(mesh, s, range) {
    const at = useMesh(s, range);
    gl.uniform1i(at.byMagnitude, 1);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, gpu.buffers.triangles);
    gl.drawElements(gl.TRIANGLES, mesh.triangles.length, gl.UNSIGNED_INT, 0);
    gl.uniform1i(at.byMagnitude, 0);
  }
  function drawBaseLine(s) {
    use("frame", s, BLACK);
    gl.drawArrays(gl.LINES, 0, 2);
  }
  function drawNodes(nodes, s, range, size) {
    const at = useMesh(s, range);
    gl.uniform1i(at.byMagnitude, 0);
    gl.uniform1f(at.pointSize, 4 * size);
    gl.drawArrays(gl.POINTS, 0, nodes);
  }
  function drawOutlines(mesh, s, range) {
    const at = useMesh(s, range);
    gl.uniform1i(at.byMagnitude, 0);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, gpu.buffers.edges);
    gl.drawElements(gl.LINES, mesh.edges.length, gl.UNSIGNED_INT, 0);
  }
  // The fill's right end, as the viewer's: -FW at t = 0, +FW at the end time; far outside the
  // picture for a time far beyond it, and no fill for a time that is not a number.
  function drawProgress(t, s) {
    const at = use("frame", s, BAR);
    const edge = -(1 - t / (P.T_END / 2)) * P.FW / s;
    gl.uniform1f(at.fillEdge,
                 Number.isNaN(edge) ? -P.FW / s : Math.max(-1e4, Math.min(1e4, edge)));
    gl.drawArrays(gl.LINE_LOOP, 2, 4);
    gl.drawArrays(gl.TRIANGLE_FAN, 6, 4);
  }

  // Draws step k of the store as `display` says ({nodes, outlines, colour, scale}), the colours
  // spread over `range`, on a canvas the viewer's window or `display.size` times it (each
  // node's point as much larger). Does nothing while the context is lost.
  function draw(store, k, display, range) {
    if (!gpu) return;
    const mesh = upload(store, k), s = display.scale;
    drawGround();
    if (display.colour) drawColours(mesh, s, range);
    drawBaseLine(s);
    if (display.nodes) drawNodes(store.nodes, s, range, display.size || 1);
    if (display.outlines) drawOutlines(mesh, s, range);
    drawProgress(store.time(k), s);
    gl.bindVertexArray(null);
  }

  return { draw };
}
