// The frames of a run's data, in a page and on a server's stream alike: one kind byte, the
// payload's size (32 bits, little-endian), the payload. Their header is read here alone; the
// kinds and the payloads are described in docs/stream-format.md.

const FRAME_HEADER = 5;
const MESH_CHUNK = 0x4d, STEPS_CHUNK = 0x53;                       // the run's chunks
const RUN_FRAME = 0x52, END_FRAME = 0x45, HEARTBEAT_FRAME = 0x48;  // a server's own

// Cuts bytes into frames however they are split: push() takes the next bytes and hands each
// frame they complete to onFrame(kind, payload), in order; `between` tells whether the bytes so
// far end where a frame does.
function createFrameReader() {
  const header = new Uint8Array(FRAME_HEADER);
  let have = 0, payload = null, filled = 0;
  return {
    push(bytes, onFrame) {
      for (let at = 0; at < bytes.length;) {
        if (payload === null) {
          const n = Math.min(FRAME_HEADER - have, bytes.length - at);
          header.set(bytes.subarray(at, at + n), have);
          have += n;
          at += n;
          if (have < FRAME_HEADER) break;
          payload = new Uint8Array(new DataView(header.buffer).getUint32(1, true));
          filled = 0;
        }
        const n = Math.min(payload.length - filled, bytes.length - at);
        payload.set(bytes.subarray(at, at + n), filled);
        filled += n;
        at += n;
        if (filled < payload.length) break;
        const done = payload;
        payload = null;
        have = 0;
        onFrame(header[0], done);
      }
    },
    get between() { return have === 0 && payload === null; },
  };
}
