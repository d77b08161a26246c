// The live view: a run as a server reads it from the solver's result.dat, on one streamed response
// (GET run, beside the page's own address): everything so far first, then each step as it comes,
// in frames (frames.js; docs/stream-format.md): a run begins, the page's own chunks, the run has
// ended, the server is there and the last record is so many seconds old. A lost connection is
// made again by itself, asking only for the steps the store lacks, so that it holds every step
// once, in order.

const SILENCE_MS = 6000;  // the server speaks every 2 s at least: beyond this the link is dead

// Feeds `store` from the stream at `url` (relative to the page) for as long as the page lives,
// and tells `on` what happens: begun() a new run (the store was cleared), grew() steps were
// added, ended(), heard(age) the server's word of the last record's age in seconds, and
// connected(yes) as the connection comes and goes, with retry(seconds) before the next try.
function feedStore(url, store, on) {
  const token = new URLSearchParams(location.search).get("token");
  let run = -1;  // the id of the run the store holds

  // Takes one frame; the chunks are read in the order they came.
  let queue = Promise.resolve();
  function take(kind, payload) {
    queue = queue.then(async () => {
      const view = new DataView(payload.buffer, payload.byteOffset, payload.byteLength);
      if (kind === RUN_FRAME) {
        const id = view.getUint32(0, true);
        if (id !== run) {  // a new run: the solver started again
          run = id;
          store.clear();
          on.begun();
        }
      } else if (kind === END_FRAME) {
        on.ended();
      } else if (kind === HEARTBEAT_FRAME) {
        on.heard(view.getFloat64(0, true));
      } else if (await readChunk(kind, payload, store) > 0) {
        on.grew();
      }
    });
    return queue;
  }

  async function connect() {
    const abort = new AbortController();
    let heard = performance.now();
    const watchdog = setInterval(() => {
      if (performance.now() - heard > SILENCE_MS) abort.abort();
    }, 1000);
    try {
      const query = run >= 0 ? `?run=${run}&from=${store.steps}` : "";
      const response = await fetch(url + query, {
        headers: token ? { "X-Meshplay-Token": token } : {},
        cache: "no-store",
        signal: abort.signal,
      });
      if (!response.ok) throw new Error(`the server answers ${response.status}`);
      on.connected(true);
      const reader = response.body.getReader();
      const frames = createFrameReader();
      for (;;) {
        const { value, done } = await reader.read();
        if (done) break;
        heard = performance.now();
        frames.push(value, take);
        await queue;
      }
    } catch (error) {
      // A network error or a silence ends the connection, and so does data the store refuses
      // (a gap): the next connection asks again for what the store lacks.
      if (error.name !== "AbortError" && !(error instanceof TypeError)) console.warn(error);
    } finally {
      clearInterval(watchdog);
      abort.abort();
      await queue.catch(() => {});
      queue = Promise.resolve();
      on.connected(false);
    }
  }

  // Connects, and again after each loss, waiting a little longer each time (up to 5 s).
  (async () => {
    for (let pause = 500;; pause = Math.min(5000, 2 * pause)) {
      const started = performance.now();
      await connect();
      if (performance.now() - started > 10000) pause = 500;  // it had been working
      on.retry(pause / 1000);
      await new Promise((resolve) => setTimeout(resolve, pause));
    }
  })();
}

// The live page: the page's one player, fed from the server, and what it says of the run.
function startLive(meta) {
  const player = pagePlayer(meta);
  if (!player.usable) return;
  const { store, state } = player;
  document.querySelector(".meshplay .follow").hidden = false;
  let recordAt = performance.now();  // when the newest record was read by the server
  let retryAt = 0;

  function say() {
    const age = Math.max(0, (performance.now() - recordAt) / 1000);
    const steps = plural(store.steps, "time step", "time steps");
    if (!state.connected) {
      const wait = Math.max(0, Math.ceil((retryAt - performance.now()) / 1000));
      player.status(`The connection to the server is lost (${steps} held); trying again` +
                    (wait > 0 ? ` in ${wait} s.` : "\u2026"));
    } else if (state.ended) {
      player.status(`The run has ended: ${steps}.`);
    } else if (store.steps === 0) {
      player.status(`Waiting for the solver: no record yet (${Math.round(age)} s).`);
    } else if (age >= 2) {
      player.status(`Waiting for the solver: ${steps}, the last ${Math.round(age)} s ago.`);
    } else {
      player.status(`Live: ${steps}, the newest ${age.toFixed(1)} s old.`);
    }
  }
  setInterval(say, 1000);

  feedStore("run", store, {
    begun: () => player.reset(),
    grew() {
      recordAt = performance.now();
      if (!state.ready) {
        player.begin(0);
        player.follow();
      }
      player.grew();
      say();
    },
    ended() {
      state.ended = true;
      say();
    },
    heard(age) {
      recordAt = performance.now() - 1000 * age;
      say();
    },
    connected(yes) {
      state.connected = yes;
      say();
    },
    retry(seconds) {
      retryAt = performance.now() + 1000 * seconds;
      say();
    },
  });
}
